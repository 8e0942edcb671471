#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarvik {

// The remote log entries (by event type) and API events (by event name)
// that one call sent to the back office.
struct RemoteRecords {
    std::map<std::string, int> loggerByType;
    std::map<std::string, int> eventsByName;
    // Journal lines that repeat an earlier line of the same call byte for
    // byte (operation and body): a record delivered twice.
    int repeated = 0;

    int loggerCount() const;
    int eventCount() const;
};

// Both sides of the "nothing lost" check: what the simulator's journal holds
// per call (by the call's unique id, which every entry and event carries),
// and what a call's AGI transcript says it sent.
class RemoteRecordCheck {
public:
    // Reads the journal (one JSON object per line). False with a reason when
    // the file cannot be read or a line is not JSON.
    static bool readJournal(const std::string& path, std::map<std::string, RemoteRecords>& byUniqueId,
                            std::string& error);

    // What the transcript implies. Events leave their "saving to recall
    // history: data=>" NoOp line before each request; remote log entries
    // leave no line of their own, so they are inferred from the steps that
    // write them: "authenticated" (and "trace" when a destination was given)
    // after ANSWER, "found" with "client was found", "selected" after a
    // recall check that found no recall, "send-notification" with the
    // invoice-sent prompt, "forward" with each Goto.
    static RemoteRecords impliedByTranscript(const std::vector<std::string>& commands, bool destinationGiven);

    // One line per difference ("logger forward: sent 1, journaled 0"), empty when equal.
    static std::vector<std::string> compare(const RemoteRecords& implied, const RemoteRecords& journaled);
};

}  // namespace tarvik
