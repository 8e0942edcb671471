#include "bench/RemoteRecords.h"

#include <fstream>
#include <memory>
#include <set>

#include <json/json.h>

namespace tarvik {

namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool parseJson(const std::string& text, Json::Value& value) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string error;
    return reader->parse(text.data(), text.data() + text.size(), &value, &error);
}

int sum(const std::map<std::string, int>& counts) {
    int total = 0;
    for (const auto& entry : counts) {
        total += entry.second;
    }
    return total;
}

void compareCounts(const char* kind, const std::map<std::string, int>& implied,
                   const std::map<std::string, int>& journaled, std::vector<std::string>& differences) {
    std::map<std::string, std::pair<int, int>> both;
    for (const auto& entry : implied) {
        both[entry.first].first = entry.second;
    }
    for (const auto& entry : journaled) {
        both[entry.first].second = entry.second;
    }
    for (const auto& entry : both) {
        if (entry.second.first != entry.second.second) {
            differences.push_back(std::string(kind) + " " + entry.first + ": sent " +
                                  std::to_string(entry.second.first) + ", journaled " +
                                  std::to_string(entry.second.second));
        }
    }
}

}  // namespace

int RemoteRecords::loggerCount() const { return sum(loggerByType); }

int RemoteRecords::eventCount() const { return sum(eventsByName); }

bool RemoteRecordCheck::readJournal(const std::string& path, std::map<std::string, RemoteRecords>& byUniqueId,
                                    std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the journal " + path;
        return false;
    }
    std::string line;
    int number = 0;
    std::set<std::string> seen;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) {
            continue;
        }
        Json::Value entry;
        if (!parseJson(line, entry) || !entry.isObject()) {
            error = "journal line " + std::to_string(number) + " is not a JSON object";
            return false;
        }
        std::string operation = entry["operation"].asString();
        if (operation != "logger" && operation != "event") {
            continue;
        }
        Json::Value body;
        if (!entry["body"].isString() || !parseJson(entry["body"].asString(), body) || !body.isObject()) {
            error = "journal line " + std::to_string(number) + " has a body that is not a JSON object";
            return false;
        }
        RemoteRecords& records = byUniqueId[body["uniqueId"].asString()];
        if (!seen.insert(operation + "\n" + entry["body"].asString()).second) {
            ++records.repeated;
        }
        if (operation == "logger") {
            ++records.loggerByType[body["eventType"].asString()];
        } else {
            ++records.eventsByName[body["event"].asString()];
        }
    }
    return true;
}

RemoteRecords RemoteRecordCheck::impliedByTranscript(const std::vector<std::string>& commands, bool destinationGiven) {
    RemoteRecords implied;
    int eventsSinceGoto = 0;
    bool recallChecked = false;
    for (const std::string& command : commands) {
        if (command == "ANSWER") {
            ++implied.loggerByType["authenticated"];
            if (destinationGiven) {
                ++implied.loggerByType["trace"];
            }
        } else if (startsWith(command, "VERBOSE") && contains(command, "client was found, address used in this call")) {
            ++implied.loggerByType["found"];
        } else if (startsWith(command, "EXEC NoOp") && contains(command, "checking if is recall to document")) {
            recallChecked = true;
        } else if (startsWith(command, "EXEC NoOp") && contains(command, "[result recall]")) {
            recallChecked = false;  // a recall is redirected before "selected"
        } else if (startsWith(command, "EXEC NoOp") && contains(command, "saving to recall history: data=>")) {
            ++eventsSinceGoto;
        } else if (startsWith(command, "EXEC Background") &&
                   (contains(command, "Orvel-u4-19\"") || contains(command, "Orvel-u4-20\""))) {
            ++implied.loggerByType["send-notification"];
        } else if (startsWith(command, "EXEC Goto")) {
            ++implied.loggerByType["forward"];
            // The redirect's own event comes right before its Goto; earlier
            // ones are the identification event.
            if (eventsSinceGoto > 0) {
                ++implied.eventsByName["forward"];
                implied.eventsByName["ORVEL_IVR_DOCUMENT"] += eventsSinceGoto - 1;
                eventsSinceGoto = 0;
            }
        }
        if (recallChecked && !startsWith(command, "EXEC NoOp") && !startsWith(command, "VERBOSE") &&
            !startsWith(command, "EXEC Set RECALL_ATTEMPT")) {
            // The first call step after a recall check that found none is
            // preceded by the "selected" entry.
            ++implied.loggerByType["selected"];
            recallChecked = false;
        }
    }
    if (eventsSinceGoto > 0) {
        implied.eventsByName["ORVEL_IVR_DOCUMENT"] += eventsSinceGoto;
    }
    return implied;
}

std::vector<std::string> RemoteRecordCheck::compare(const RemoteRecords& implied, const RemoteRecords& journaled) {
    std::vector<std::string> differences;
    compareCounts("logger", implied.loggerByType, journaled.loggerByType, differences);
    compareCounts("event", implied.eventsByName, journaled.eventsByName, differences);
    return differences;
}

}  // namespace tarvik
