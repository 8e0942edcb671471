#include "tests/support/IvrCall.h"
#include "tests/support/SpoolContents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace tarvik::testing {

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool parseJson(const std::string& text, Json::Value& value, std::string* errors = nullptr) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string ignored;
    return reader->parse(text.data(), text.data() + text.size(), &value, errors != nullptr ? errors : &ignored);
}

// Objects merge member by member; a null member removes the key.
void mergeInto(Json::Value& target, const Json::Value& overrides) {
    for (const std::string& key : overrides.getMemberNames()) {
        const Json::Value& value = overrides[key];
        if (value.isNull()) {
            target.removeMember(key);
        } else if (value.isObject() && target.isMember(key) && target[key].isObject()) {
            mergeInto(target[key], value);
        } else {
            target[key] = value;
        }
    }
}

JournalEntry parseJournalLine(const std::string& line) {
    JournalEntry entry;
    Json::Value json;
    if (!parseJson(line, json) || !json.isObject()) {
        ADD_FAILURE() << "journal line is not a JSON object: " << line;
        return entry;
    }
    entry.method = json["method"].asString();
    entry.path = json["path"].asString();
    entry.operation = json["operation"].asString();
    entry.status = json["status"].isInt() ? json["status"].asInt() : 0;
    entry.connection = json["connection"].isInt() ? json["connection"].asInt() : 0;
    for (const std::string& name : json["headers"].getMemberNames()) {
        entry.headers[name] = json["headers"][name].asString();
    }
    entry.bodyText = json["body"].isString() ? json["body"].asString() : "";
    if (!entry.bodyText.empty() && !parseJson(entry.bodyText, entry.body)) entry.body = Json::Value();
    return entry;
}

// Asterisk's answer to GET DATA: the digits, or a timeout without any.
std::string getDataReply(const std::string& digits) {
    return digits.empty() ? "200 result= (timeout)" : "200 result=" + digits;
}

}  // namespace

std::string orvelProgram() { return IVR_BINARY_DIR "/sites/orvel/ivr-orvel"; }
std::string pelionProgram() { return IVR_BINARY_DIR "/sites/pelion/ivr-pelion"; }
std::string exampleCustomers() { return IVR_SOURCE_DIR "/examples/backoffice/customers.json"; }

std::string promptOf(const std::string& command) {
    const std::string verb = "GET DATA ";
    if (command.compare(0, verb.size(), verb) != 0) return "";
    std::string prompt = command.substr(verb.size());
    prompt = prompt.substr(0, prompt.find(' '));
    prompt.erase(std::remove(prompt.begin(), prompt.end(), '"'), prompt.end());
    std::string::size_type slash = prompt.rfind('/');
    return slash == std::string::npos ? prompt : prompt.substr(slash + 1);
}

std::pair<std::string, std::string> localHourZone(int hour) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    // POSIX zones count west of Greenwich: local = UTC - offset.
    int offset = utc.tm_hour - hour;
    return {"TZ", "LCL" + std::string(offset < 0 ? "-" : "+") + std::to_string(offset < 0 ? -offset : offset)};
}

bool isOneAgiCommand(const std::string& line) {
    static const std::regex forms(
        "VERBOSE \"[^\"]*\" 1|EXEC NoOp \"[^\"]*\" 1|EXEC (Background|Playback) \"[^\"]*\""
        "|EXEC Set [A-Za-z0-9_()]+=[^\" ]*|ANSWER|HANGUP"
        "|EXEC Goto [^,| ]+,[^,| ]+,[^,| ]+|EXEC Goto [^,| ]+[|][^,| ]+[|][^,| ]+"
        "|SAY (NUMBER|DIGITS) [^ ]+ #|SAY TIME [^ ]+ #|GET DATA [^ ]+ [0-9]+ -?[0-9]+|GET VARIABLE [^ ]+"
        "|WAIT FOR DIGIT -?[0-9]+|EXEC (Transfer|DIAL) [^ ]+");
    return std::regex_match(line, forms);
}

IvrBackOffice::IvrBackOffice(const std::vector<std::string>& extraOptions) {
    std::vector<std::string> options = {"--port", "0", "--data", exampleCustomers(), "--token", "change-me",
                                        "--journal", journalPath()};
    options.insert(options.end(), extraOptions.begin(), extraOptions.end());
    for (const std::string& option : extraOptions) {
        if (option == "--tls-cert") scheme_ = "https";
    }
    sim_ = std::make_unique<SimProcess>(options);
    port_ = sim_->waitListening(10000);
    if (port_ <= 0) ADD_FAILURE() << "the simulator did not start:\n" << sim_->standardError();
}

std::vector<Json::Value> IvrBackOffice::spooledRecords() const {
    std::vector<Json::Value> records;
    for (const SpooledRow& row : waitingRows(spoolPath())) {
        Json::Value record;
        EXPECT_TRUE(parseJson(row.record, record)) << row.record;
        Json::Value body;
        if (parseJson(record["body"].asString(), body)) record["json"] = body;
        records.push_back(record);
    }
    return records;
}

std::vector<std::string> IvrBackOffice::spooledLogTypes() const {
    std::vector<std::string> types;
    for (const Json::Value& record : spooledRecords()) {
        if (record["kind"].asString() == "logger") types.push_back(record["json"]["eventType"].asString());
    }
    return types;
}

std::string IvrBackOffice::baseUrl() const { return scheme_ + "://127.0.0.1:" + std::to_string(port_); }

std::string IvrBackOffice::writeConfig(const std::string& overridesJson, const std::string& name) const {
    Json::Value config;
    if (!parseJson(readFile(IVR_SOURCE_DIR "/examples/config/orvel.json"), config)) {
        ADD_FAILURE() << "examples/config/orvel.json does not parse";
    }
    config["kestro"] = baseUrl();
    config["debug"] = debugPath();
    // Each test's undelivered records stay its own.
    config["spoolDirectory"] = spoolPath();
    // And its calls' numbers: never the host's textfile folder.
    config["metricsFile"] = metricsPath();
    Json::Value overrides;
    std::string errors;
    if (!parseJson(overridesJson, overrides, &errors) || !overrides.isObject()) {
        ADD_FAILURE() << "configuration overrides are not a JSON object: " << overridesJson << "\n" << errors;
    } else {
        mergeInto(config, overrides);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    return dir_.write(name, Json::writeString(writer, config) + "\n");
}

std::vector<JournalEntry> IvrBackOffice::journal() const {
    std::vector<JournalEntry> entries;
    std::string text = readFile(journalPath());
    // A line the simulator is still writing (records arrive beside a call
    // and may still be coming in) is read next time, whole.
    text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty()) entries.push_back(parseJournalLine(line));
    }
    return entries;
}

IvrCallResult runIvrCall(const IvrBackOffice& office, const IvrCall& call) {
    ScriptedAsteriskPeer peer;
    peer.setStartupVariable("agi_version", "22.10.1");
    peer.setStartupVariable("agi_callerid", call.callerId);
    peer.setStartupVariable("agi_uniqueid", call.uniqueId);
    peer.setStartupVariable("agi_channel", call.channel);
    for (std::size_t i = 0; i < call.arguments.size(); ++i) {
        peer.setStartupVariable("agi_arg_" + std::to_string(i + 1), call.arguments[i]);
    }
    for (const auto& variable : call.startup) peer.setStartupVariable(variable.first, variable.second);

    // The script keeps its own copy of the queue (std::function copies it).
    auto inOrder = std::make_shared<std::deque<std::string>>(call.answersInOrder);
    std::map<std::string, std::string> byPrompt = call.answersByPrompt;
    peer.setScript([inOrder, byPrompt](const std::string& command) {
        if (command.compare(0, 9, "GET DATA ") != 0) return ScriptedAsteriskPeer::defaultReply(command);
        auto found = byPrompt.find(promptOf(command));
        if (found != byPrompt.end()) return getDataReply(found->second);
        if (inOrder->empty()) return getDataReply("");
        std::string digits = inOrder->front();
        inOrder->pop_front();
        return getDataReply(digits);
    });
    if (call.preparePeer) call.preparePeer(peer);

    std::size_t journaledBefore = office.journal().size();
    IvrCallResult result;
    result.child = peer.runChild({call.program, call.arguments, call.workingDirectory, call.environment, call.deadline});
    std::vector<JournalEntry> all = office.journal();
    if (all.size() > journaledBefore) result.journal.assign(all.begin() + journaledBefore, all.end());

    const std::string& errors = result.child.stderrText;
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos) {
        ADD_FAILURE() << call.program << " reported a fault:\n" << errors;
    }
    return result;
}

bool IvrCallResult::sent(const std::string& command) const {
    return std::find(child.commands.begin(), child.commands.end(), command) != child.commands.end();
}

std::string IvrCallResult::lastGoto() const {
    std::string found;
    for (const std::string& command : child.commands) {
        if (command.compare(0, 10, "EXEC Goto ") == 0) found = command;
    }
    return found;
}

std::vector<std::string> IvrCallResult::prompts() const {
    std::vector<std::string> names;
    for (const std::string& command : child.commands) {
        if (command.compare(0, 9, "GET DATA ") == 0) names.push_back(promptOf(command));
    }
    return names;
}

std::vector<JournalEntry> IvrCallResult::requests(const std::string& operation) const {
    std::vector<JournalEntry> found;
    for (const JournalEntry& entry : journal) {
        if (entry.operation == operation) found.push_back(entry);
    }
    return found;
}

}  // namespace tarvik::testing
