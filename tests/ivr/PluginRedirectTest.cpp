#include <chrono>

#include <gtest/gtest.h>
#include <json/json.h>

#include "ivr/Plugin.h"
#include "tests/ivr/PluginTestConfig.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {
namespace {

// Routes "50005" to 9000 and plays prompts from a separate directory for
// companies (mark type = pj); the forwarding 4001 is mapped for everyone.
const char* kProfile = R"("profile": {
    "route": [
        {"destinations": {"50005": "9000"},
         "variables": {"description": "companies", "values": [{"mark": "type", "value": "pj"}]}},
        {"destinations": {"4001": "4100"}}
    ],
    "audio": [
        {"dir": "/srv/audio/pj/",
         "variables": {"description": "companies", "values": [{"mark": "type", "value": "pj"}]}}
    ]
})";

Json::Value parse(const std::string& text) {
    Json::Value value;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, value)) << text;
    return value;
}

struct CallSetup {
    RecordingSession session;
    Plugin plugin;

    // Loads a configuration pointing the back office at `baseUrl`, with the
    // given extra keys, and the call's identifiers.
    void load(TempDir& dir, const std::string& baseUrl, const std::string& extra) {
        session.setAsteriskVariable("agi_callerid", "11987654321");
        session.setAsteriskVariable("agi_uniqueid", "1700000000.7");
        session.setAsteriskVariable("agi_channel", "SIP/trunk-01");
        // Records in line: the exit's requests are checked in the flow's order.
        std::string path = dir.write("ivr.json", R"({"kestro": ")" + baseUrl + R"(", "token": "tok",
            "backgroundRecords": false, "spoolDirectory": ")" + dir.file("spool") + R"(",
            "defaultContext": "orvel-out", )" + extra + "}");
        plugin.loadConfiguration(session, path.c_str());
        plugin.loadEnv(session);
    }
};

TEST(PluginDestinationTest, EveryDestinationHasItsKey) {
    Plugin plugin;
    for (int index = 0; index < 31; ++index) {
        auto destination = static_cast<Plugin::IvrDestination>(index);
        EXPECT_EQ(plugin.getDestinationValue(destination), std::to_string(50001 + index));
    }
    EXPECT_EQ(plugin.getDestinationValue(Plugin::IvrDestination::WantsPlans), "50001");
    EXPECT_EQ(plugin.getDestinationValue(Plugin::IvrDestination::ClientNotFound), "50005");
    EXPECT_EQ(plugin.getDestinationValue(Plugin::IvrDestination::Paused), "50022");
    EXPECT_EQ(plugin.getDestinationValue(Plugin::IvrDestination::BlockedInvoiceSent), "50031");
}

TEST(PluginDestinationTest, WithoutProfileKeysAndDefaultDirectoryApply) {
    Plugin plugin;
    EXPECT_EQ(plugin.getProfileDestination("50005"), "50005");
    EXPECT_EQ(plugin.getProfileDestination("4001"), "4001");
    EXPECT_EQ(plugin.getProfileDestination(""), "");
    EXPECT_EQ(plugin.getProfileAudio("Orvel-u4-01"), "/etc/tarvik/kestro/audios/Orvel-u4-01");
    EXPECT_EQ(plugin.getProfileAudio(""), "/etc/tarvik/kestro/audios/");
}

TEST(PluginDestinationTest, ProfileResolvesWithTheMarksOfTheMoment) {
    TempDir dir;
    CallSetup call;
    call.load(dir, "http://127.0.0.1:9", kProfile);
    Plugin& plugin = call.plugin;

    call.plugin.setMark("type", "pf");
    EXPECT_EQ(plugin.getProfileDestination("50005"), "50005");
    EXPECT_EQ(plugin.getProfileDestination("4001"), "4100");
    EXPECT_EQ(plugin.getProfileAudio("Orvel-u4-08"), "/etc/tarvik/kestro/audios/Orvel-u4-08");

    call.plugin.setMark("type", "pj");
    EXPECT_EQ(plugin.getProfileDestination("50005"), "9000");
    EXPECT_EQ(plugin.getProfileDestination("50006"), "50006");
    EXPECT_EQ(plugin.getProfileAudio("Orvel-u4-08"), "/srv/audio/pj/Orvel-u4-08");
    // An empty prompt name always gives the default directory.
    EXPECT_EQ(plugin.getProfileAudio(""), "/etc/tarvik/kestro/audios/");
    EXPECT_EQ(plugin.getProfileDestination(""), "");
}

TEST(PluginRedirectTest, ReportsTheExitAndSendsTheCallToTheResolvedExtension) {
    LocalHttpServer server;
    server.answer("POST", "/service/v1/logger", 200, "{}");
    server.answer("POST", "/service/v1/integration/log", 200, "{}");
    TempDir dir;
    std::string debug = dir.file("debug.log");
    CallSetup call;
    call.load(dir, server.baseUrl(), std::string(kProfile) + R"(, "debug": ")" + debug + "\"");
    call.plugin.setMark("type", "pj");

    call.plugin.redirect(call.session, "50005", "typed document, but client not found");

    EXPECT_EQ(call.session.callSteps().back(), "goTo orvel-out 9000 1");
    EXPECT_TRUE(hasLine(call.session.operations(), "verbose typed document, but client not found"));
    EXPECT_EQ(TempDir::readFile(debug), "typed document, but client not found\n");

    ASSERT_TRUE(server.waitForRequests(2, std::chrono::seconds(5)));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);

    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/service/v1/logger");
    Json::Value entry = parse(requests[0].body);
    EXPECT_EQ(entry["destination"].asString(), "50005");  // the key, not the extension
    EXPECT_EQ(entry["eventType"].asString(), "forward");
    EXPECT_EQ(entry["data1"].asString(), "11987654321");
    EXPECT_EQ(entry["data2"].asString(), "typed document, but client not found");
    EXPECT_FALSE(entry.isMember("data3"));
    EXPECT_EQ(entry["uniqueId"].asString(), "1700000000.7");
    EXPECT_EQ(entry["channel"].asString(), "SIP/trunk-01");

    EXPECT_EQ(requests[1].path, "/service/v1/integration/log");
    Json::Value event = parse(requests[1].body);
    EXPECT_EQ(event["event"].asString(), "forward");
    EXPECT_EQ(event["module"].asString(), "ivr.orvel");
    EXPECT_EQ(event["data"].asString(), "50005");
}

TEST(PluginRedirectTest, EmptyTextLeavesNoTraceButStillReachesTheBackOffice) {
    LocalHttpServer server;
    server.answer("POST", "/service/v1/logger", 200, "{}");
    server.answer("POST", "/service/v1/integration/log", 200, "{}");
    TempDir dir;
    std::string debug = dir.file("debug.log");
    CallSetup call;
    call.load(dir, server.baseUrl(), R"("debug": ")" + debug + "\"");

    call.plugin.redirect(call.session, "50012", "");

    EXPECT_EQ(call.session.callSteps().back(), "goTo orvel-out 50012 1");
    EXPECT_FALSE(hasLine(call.session.operations(), "verbose "));
    EXPECT_EQ(TempDir::readFile(debug), "");  // not even created
    ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(5)));
    Json::Value entry = parse(server.requests().front().body);
    ASSERT_TRUE(entry.isMember("data2"));
    EXPECT_EQ(entry["data2"].asString(), "");
}

TEST(PluginRedirectTest, WithEventManagerOffNoRequestIsMade) {
    LocalHttpServer server;
    TempDir dir;
    CallSetup call;
    call.load(dir, server.baseUrl(), R"("feature": {"eventManager": false}, )" + std::string(kProfile));

    // A forwarding text is a key like any other.
    call.plugin.redirect(call.session, "4001", "transfer to custom forwarding");

    EXPECT_EQ(call.session.callSteps().back(), "goTo orvel-out 4100 1");
    EXPECT_TRUE(hasLine(call.session.operations(), "verbose transfer to custom forwarding"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(PluginRedirectTest, WithoutConfigurationTheCallIsStillRouted) {
    // No configuration: no client, no switches, no default context. The
    // call goes to the session's fallback context rather than nowhere.
    RecordingSession session;
    Plugin plugin;
    plugin.redirect(session, "50005", "typed document, but client not found");
    EXPECT_EQ(session.callSteps(), std::vector<std::string>{"goTo tarvik-kestro-alias 50005 1"});

    // A failing goTo is not examined and changes nothing else.
    RecordingSession failing;
    failing.failGoTo = true;
    failing.setDefaultContext("ctx");
    plugin.redirect(failing, "50001", "%s%n quer conhecer os planos");
    EXPECT_EQ(failing.operations(),
              (std::vector<std::string>{"verbose %s%n quer conhecer os planos", "goTo ctx 50001 1"}));
}

}  // namespace
}  // namespace tarvik::testing
