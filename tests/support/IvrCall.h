#pragma once

#include <json/json.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/SimProcess.h"

namespace tarvik::testing {

// Whole calls of ivr-orvel / ivr-pelion as real processes against the
// back-office simulator:
//
//     IvrBackOffice office;                       // simulator + scratch dir
//     IvrCall call;                               // ivr-orvel, caller 11987654321
//     call.arguments = {"atendimento", office.writeConfig()};
//     call.answersByPrompt["Orvel-u4-33"] = "1";
//     IvrCallResult result = runIvrCall(office, call);
//     EXPECT_EQ(result.lastGoto(), "EXEC Goto ivr-exits,50011,1");
//     EXPECT_EQ(result.requests("send").size(), 1u);

std::string orvelProgram();   // IVR_BINARY_DIR/sites/orvel/ivr-orvel
std::string pelionProgram();  // IVR_BINARY_DIR/sites/pelion/ivr-pelion
std::string exampleCustomers();  // IVR_SOURCE_DIR/examples/backoffice/customers.json

// One line of the simulator's journal.
struct JournalEntry {
    std::string method;     // "GET", "POST", "PUT"
    std::string path;       // request target as received
    std::string operation;  // the simulator's OP name ("phone", "send", ...) or "unknown"
    int status = 0;         // 0 for a dropped request
    int connection = 0;     // the simulator's number of the connection it came over
    std::map<std::string, std::string> headers;
    std::string bodyText;
    Json::Value body;       // bodyText parsed; null when empty or not JSON
};

// The simulator with the example customers, token "change-me" and a journal,
// in a scratch directory removed at scope end (the simulator is killed then).
// A failed start fails the test and leaves port() at -1.
class IvrBackOffice {
public:
    // extraOptions go after the defaults ("--port 0 --data <examples>
    // --token change-me --journal <dir>/journal.jsonl"); a later option
    // replaces an earlier one, so "--data" or "--token" may be overridden.
    // The recall window stays the simulator's default (300 s): a second call
    // of one customer is a recall unless "--recall-window 0" is given.
    explicit IvrBackOffice(const std::vector<std::string>& extraOptions = {});

    int port() const { return port_; }
    std::string baseUrl() const;  // "http://127.0.0.1:PORT" ("https" with --tls-cert)
    const TempDir& dir() const { return dir_; }
    SimProcess& sim() { return *sim_; }
    std::string journalPath() const { return dir_.file("journal.jsonl"); }
    std::string debugPath() const { return dir_.file("debug.log"); }
    std::string spoolPath() const { return dir_.file("spool"); }
    std::string metricsPath() const { return dir_.file("ivr.prom"); }

    // Writes a copy of examples/config/orvel.json into the scratch dir, with
    // "kestro" at this simulator, "debug" at debugPath(), "spoolDirectory"
    // at spoolPath() and "metricsFile" at metricsPath(), then the
    // members of overridesJson merged in (objects merge member by member,
    // anything else replaces; a null member removes the key). Returns its
    // path. A bad overrides text fails the test.
    std::string writeConfig(const std::string& overridesJson = "{}", const std::string& name = "orvel.json") const;

    // Every journal line so far, parsed.
    std::vector<JournalEntry> journal() const;

    // The records waiting in spoolPath(), oldest first, each parsed
    // ({"kind", "path", "body", ...}); the record's body parsed as "json".
    std::vector<Json::Value> spooledRecords() const;
    // The event types of the spooled remote log entries, oldest first.
    std::vector<std::string> spooledLogTypes() const;

private:
    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    int port_ = -1;
    std::string scheme_ = "http";
};

// One call: the program, its command line, the AGI start-up block and the
// caller's keypad answers.
struct IvrCall {
    std::string program = orvelProgram();
    std::vector<std::string> arguments;  // argv[1..]: destination, config, marks; also sent as agi_arg_N
    std::string workingDirectory;        // empty: the test's own
    std::vector<std::pair<std::string, std::string>> environment;  // added or replaced, e.g. localHourZone(22)
    std::string callerId = "11987654321";
    std::string uniqueId = "1796777065.3";
    std::string channel = "SIP/operadora-00000001";
    // Further start-up variables, added or replacing (e.g. {"var1", "x"}).
    std::vector<std::pair<std::string, std::string>> startup;

    // GET DATA carries the prompt path; answers are found by its file name
    // ("Orvel-u4-33"), the same answer every time that prompt is asked,
    // else taken from answersInOrder, else a timeout. An empty answer is a
    // timeout too ("200 result= (timeout)").
    std::map<std::string, std::string> answersByPrompt;
    std::deque<std::string> answersInOrder;

    // Last touch on the peer before the call (hangUpAtCommand, replyTo...):
    // those take precedence over the answers above.
    std::function<void(ScriptedAsteriskPeer&)> preparePeer;
    std::chrono::milliseconds deadline{30000};
};

struct IvrCallResult {
    ScriptedAsteriskPeer::ChildResult child;  // exitStatus, commands, stderrText...
    std::vector<JournalEntry> journal;        // requests the simulator journaled during this call

    int exitStatus() const { return child.exitStatus; }
    const std::vector<std::string>& commands() const { return child.commands; }
    bool sent(const std::string& command) const;  // exact command line
    std::string lastGoto() const;                 // the last "EXEC Goto ..." line, or ""
    std::vector<std::string> prompts() const;     // file names of the GET DATA prompts, in order
    std::vector<JournalEntry> requests(const std::string& operation) const;
};

// Runs the call to its end (bounded by call.deadline). Fails the test when
// the program could not start, was killed at the deadline, or reported a
// sanitizer fault on standard error.
IvrCallResult runIvrCall(const IvrBackOffice& office, const IvrCall& call);

// A "TZ" setting under which the local time is now about `hour` o'clock
// (the minutes stay those of UTC): the greeting of a call then depends on
// the test, not on the time it runs.
std::pair<std::string, std::string> localHourZone(int hour);

// The file name of a GET DATA command's prompt ("" for another command).
std::string promptOf(const std::string& command);

// Whether a line the program wrote is exactly one AGI command of the forms
// the programs use (VERBOSE "..." 1, EXEC Goto a,b,c, GET DATA p t n, ...):
// a line holding a second command, a stray quote or nothing fails.
bool isOneAgiCommand(const std::string& line);

}  // namespace tarvik::testing
