#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "tests/ivr/PluginTestConfig.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {

constexpr const char* kAudio = "/etc/tarvik/kestro/audios/";
constexpr const char* kCallerId = "11987654321";
constexpr const char* kKnownDocument = "12345678901";
constexpr const char* kDocumentPath = "/service/v1/isp/ixc/7/document/";

// One call of a site module against a real local back office: the
// configuration points "kestro" at the server, the plugin object is
// {"driver": "ixc", "id": "7"}, and the back office knows kKnownDocument.
template <typename Module>
struct SiteCall {
    LocalHttpServer server;
    TempDir dir;
    RecordingSession session;
    Exposed<Module> module;

    // `extra` holds further configuration members, each followed by a comma.
    explicit SiteCall(const std::string& extra = "") {
        server.answer("GET", std::string(kDocumentPath) + kKnownDocument, 200,
                      std::string(R"({"document":")") + kKnownDocument + R"(","name":"Ana"})");
        server.answer("POST", "/service/v1/identification", 200, "{}");
        server.answer("POST", "/service/v1/logger", 200, "{}");
        server.answer("POST", "/service/v1/integration/log", 200, "{}");
        session.setAsteriskVariable("agi_callerid", kCallerId);
        session.setAsteriskVariable("agi_uniqueid", "1700000000.9");
        session.setAsteriskVariable("agi_channel", "SIP/trunk-02");
        // The dialogues are checked against the back office's requests in
        // the flow's own order: records travel in line here.
        std::string path = dir.write("ivr.json", "{" + extra + R"( "backgroundRecords": false, "spoolDirectory": ")" +
                                                     dir.file("spool") + R"(", "kestro": ")" + server.baseUrl() +
                                                     R"(", "token": "tok", "defaultContext": "ctx",
                                                     "plugin": {"driver": "ixc", "id": "7"}})");
        module.loadConfiguration(session, path.c_str());
        module.loadEnv(session);
        module.apiReady = true;
        session.setDefaultContext("ctx");
    }

    // The prompts of the input() calls, in order, as "<name> <digits> <prompt>".
    std::vector<std::string> questions() const {
        std::vector<std::string> out;
        for (const auto& line : session.operationsNamed("input")) {
            // "input NAME DIGITS TIMEOUT PROMPT ATTEMPTS"
            std::vector<std::string> words;
            std::string::size_type start = 0;
            while (start <= line.size()) {
                auto end = line.find(' ', start);
                if (end == std::string::npos) end = line.size();
                words.push_back(line.substr(start, end - start));
                start = end + 1;
            }
            EXPECT_EQ(words.size(), 6u) << line;
            EXPECT_EQ(words[3], "5") << line;
            EXPECT_EQ(words[5], "3") << line;
            std::string prompt = words[4].rfind(kAudio, 0) == 0 ? words[4].substr(std::string(kAudio).size()) : words[4];
            out.push_back(words[1] + " " + words[2] + " " + prompt);
        }
        return out;
    }

    // "METHOD path" of every request the back office received.
    std::vector<std::string> requests() const {
        std::vector<std::string> out;
        for (const auto& request : server.requests()) out.push_back(request.method + " " + request.path);
        return out;
    }

    // Bodies of the remote log entries, in order.
    std::vector<Json::Value> logEntries() const {
        std::vector<Json::Value> out;
        for (const auto& request : server.requests()) {
            if (request.path != "/service/v1/logger") continue;
            Json::Value entry;
            Json::Reader reader;
            EXPECT_TRUE(reader.parse(request.body, entry));
            out.push_back(entry);
        }
        return out;
    }

    bool logged(const std::string& text) const { return hasLine(session.operations(), "verbose " + text); }
    std::string lastStep() const {
        auto steps = session.callSteps();
        return steps.empty() ? "" : steps.back();
    }
};

}  // namespace tarvik::testing
