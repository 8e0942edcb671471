#pragma once

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "ivr/Plugin.h"
#include "tests/ivr/PluginTestConfig.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"
#include "util/Clock.h"

namespace tarvik::testing {

// A module whose "plugin" hook sets every endpoint, as the site modules do,
// under short paths the local back office answers.
class FlowPlugin : public Plugin {
public:
    void onLoadPlugin(KestroAgiImpl&, Json::Value) override {
        setEndpointFindClientByDocument("/isp/document/");
        setEndpointFindClientByPhone("/isp/phone/");
        setEndpointFindClientUnlock("/isp/unlock");
        setEndpointFindInvoiceSend("/isp/send");
        setEndpointSendProtocol("/isp/protocol");
        setEndpointExternalProtocol("/isp/ticket");
        setEndpointSaveIdentification("/service/v1/identification");
    }
};

inline const char* kAudio = "/etc/tarvik/kestro/audios/";
inline const char* kContext = "ivr-test";
inline const char* kMobile = "11987654321";
inline const char* kLandline = "1133334444";
inline const char* kCpf = "12345678901";

// The recorded line of playing a prompt from the default directory.
inline std::string bg(const std::string& prompt) { return "background " + std::string(kAudio) + prompt; }
inline std::string ask(const std::string& name, int maxDigits, int timeout, const std::string& prompt, int attempts) {
    std::string audio = prompt == "beep" ? prompt : std::string(kAudio) + prompt;
    return "input " + name + " " + std::to_string(maxDigits) + " " + std::to_string(timeout) + " " + audio + " " +
           std::to_string(attempts);
}
inline std::string goTo(const std::string& extension) { return "goTo " + std::string(kContext) + " " + extension + " 1"; }

// Seconds since the epoch of a clock time on 2024-03-10 in the test zone
// (UTC-3, no daylight saving), computed without the C library's zone code.
inline time_t localClock(int hour, int minute, int second) {
    const time_t midnightUtc = 1710028800;  // 2024-03-10T00:00:00Z
    return midnightUtc + 3 * 3600 + hour * 3600 + minute * 60 + second;
}

// Contract and invoice documents as the back office sends them.
inline Json::Value invoice(const std::string& dueDate, double price, const std::string& barCode = "8364000000") {
    Json::Value value;
    value["id"] = "inv-" + dueDate;
    value["dueDate"] = dueDate;
    value["price"] = price;
    if (!barCode.empty()) value["barCode"] = barCode;
    return value;
}
inline Json::Value contract(const std::string& id, const std::string& state, const std::string& address = "120") {
    Json::Value value;
    value["id"] = id;
    value["state"] = state;
    value["addressNumber"] = address;
    return value;
}

// An answer to one question of a call; a null text is an input() that
// returns no text at all.
struct Answer {
    const char* question;
    const char* text;
};

// A call against a back office on 127.0.0.1: configuration file, module,
// recording session, a pinned clock at 10:00 in a fixed zone.
class CallFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        savedZone = zone != nullptr ? zone : "";
        hadZone = zone != nullptr;
        setenv("TZ", "BRT3", 1);
        tzset();
        setClock(10, 0, 0);

        session.setAsteriskVariable("agi_callerid", kMobile);
        session.setAsteriskVariable("agi_uniqueid", "1700000000.42");
        session.setAsteriskVariable("agi_channel", "SIP/trunk-0001");

        config["kestro"] = server.baseUrl();
        config["token"] = "secret";
        config["defaultContext"] = kContext;
        config["plugin"]["driver"] = "test";
        config["plugin"]["id"] = "1";
        config["spoolDirectory"] = dir.file("spool");

        server.answer("GET", "/service/v1/ready", 200, R"({"state":"ready"})");
        server.answer("POST", "/service/v1/logger", 200, "{}");
        server.answer("POST", "/service/v1/integration/log", 200, "{}");
        server.answer("POST", "/service/v1/recall/meta/register", 202, "{}");
        server.answer("POST", "/service/v1/recall/meta/search", 200, "{}");
        server.answer("POST", "/service/v1/identification", 200, "{}");
        server.answer("POST", "/isp/send", 200, "{}");
        server.answer("PUT", "/isp/unlock", 200, "{}");
        server.answer("POST", "/isp/protocol", 202, "{}");
        server.answer("POST", "/isp/ticket", 200, "{}");
    }

    void TearDown() override {
        Clock::reset();
        if (hadZone) {
            setenv("TZ", savedZone.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

    void setClock(int hour, int minute, int second) {
        time_t pinned = localClock(hour, minute, second);
        Clock::setOverride([pinned] { return pinned; });
    }

    // The customer document the back office returns.
    static std::string customer(const std::string& document, const std::vector<Json::Value>& contracts) {
        Json::Value value;
        value["id"] = "cust-1";
        value["document"] = document;
        value["signatures"] = Json::Value(Json::arrayValue);
        for (const auto& each : contracts) value["signatures"].append(each);
        return Json::FastWriter().write(value);
    }
    void knownByPhone(const std::string& body, const std::string& phone = kMobile) {
        server.answer("GET", "/isp/phone/" + phone, 200, body);
    }
    void knownByDocument(const std::string& document, const std::string& body) {
        server.answer("GET", "/isp/document/" + document, 200, body);
    }
    // The usual call: customer kCpf found by phone with this one contract.
    void customerWith(const Json::Value& oneContract) { knownByPhone(customer(kCpf, {oneContract})); }
    void setFeature(const std::string& name, bool on) { config["feature"][name] = on; }

    void run() { runCall(session, plugin, config); }

    // One more whole call with its own session, module and settings (for
    // table-driven tests); the call identifiers default to the fixture's.
    void runCall(RecordingSession& call, Plugin& module, const Json::Value& settings) {
        for (const char* name : {"agi_callerid", "agi_uniqueid", "agi_channel"}) {
            if (call.getAsteriskVariable(name) == nullptr) call.setAsteriskVariable(name, session.getAsteriskVariable(name));
        }
        std::string path = dir.write("ivr.json", Json::FastWriter().write(settings));
        module.loadConfiguration(call, path.c_str());
        module.play(call);
        // The call is over: whatever the module still sends goes now, so
        // the back office's requests can be counted.
        module.onCallHandedBack();
    }

    // Queues the answers of one call, in order.
    static void queue(RecordingSession& call, const std::vector<Answer>& answers) {
        for (const auto& each : answers) {
            if (each.text == nullptr) {
                call.queueNoAnswer(each.question);
            } else {
                call.queueInput(each.question, each.text);
            }
        }
    }

    // The call steps of the flow itself: the channel variables that the
    // back-office client sets after each successful event are its own.
    static std::vector<std::string> flowSteps(const RecordingSession& call) {
        std::vector<std::string> steps;
        for (const auto& line : call.callSteps())
            if (line.rfind("setVariable ORVEL_IVR_", 0) != 0) steps.push_back(line);
        return steps;
    }

    // Call steps after the customer bookkeeping (the TARVIK_API_ID line).
    std::vector<std::string> stepsAfterBookkeeping() const { return stepsAfterBookkeeping(session); }
    static std::vector<std::string> stepsAfterBookkeeping(const RecordingSession& call) {
        std::vector<std::string> steps = flowSteps(call);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (steps[i].rfind("setVariable TARVIK_API_ID ", 0) == 0) {
                return std::vector<std::string>(steps.begin() + static_cast<long>(i) + 1, steps.end());
            }
        }
        ADD_FAILURE() << "the call never reached the customer bookkeeping";
        return {};
    }
    // Every goTo the call made.
    std::vector<std::string> exits() const { return session.operationsNamed("goTo"); }

    // Remote log entries ("main" only) as "eventType data1 data2".
    std::vector<std::string> logEntries() const {
        std::vector<std::string> out;
        for (const auto& request : server.requests()) {
            if (request.path != "/service/v1/logger") continue;
            Json::Value body;
            Json::Reader().parse(request.body, body);
            if (body["destination"].asString() != "main") continue;
            std::string line = body["eventType"].asString();
            for (const char* data : {"data1", "data2"})
                if (body.isMember(data)) line += " " + body[data].asString();
            out.push_back(line);
        }
        return out;
    }
    // Log entries after the contract was selected ("selected ..." left out).
    std::vector<std::string> logEntriesAfterSelection() const {
        std::vector<std::string> all = logEntries();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].rfind("selected ", 0) == 0) return std::vector<std::string>(all.begin() + static_cast<long>(i) + 1, all.end());
        }
        return {};
    }
    std::vector<RecordedRequest> requestsFor(const std::string& method, const std::string& path) const {
        std::vector<RecordedRequest> out;
        for (const auto& request : server.requests())
            if (request.method == method && request.path == path) out.push_back(request);
        return out;
    }
    std::size_t requestsTo(const std::string& method, const std::string& path) const {
        std::size_t count = 0;
        for (const auto& request : server.requests())
            if (request.method == method && request.path == path) ++count;
        return count;
    }
    bool verboseSaid(const std::string& text) const { return hasLine(session.operations(), "verbose " + text); }

    LocalHttpServer server;
    RecordingSession session;
    FlowPlugin plugin;
    Json::Value config;
    TempDir dir;

private:
    std::string savedZone;
    bool hadZone = false;
};

}  // namespace tarvik::testing
