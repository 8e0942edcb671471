#include <chrono>

#include <gtest/gtest.h>

#include "ivr/BackOfficeSteps.h"
#include "ivr/Plugin.h"
#include "tests/ivr/PluginTestConfig.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {
namespace {

// Records what the "plugin" hook received and whether the switches already
// existed at that moment.
class HookedPlugin : public Exposed<Plugin> {
public:
    void onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) override {
        hookCalls++;
        received = plugin;
        featuresExistedInHook = getFeatures() != nullptr;
        clientExistedInHook = getHttp() != nullptr;
        session.verbose("hook");
    }
    int hookCalls = 0;
    Json::Value received;
    bool featuresExistedInHook = true;
    bool clientExistedInHook = true;
};

bool allSwitches(const PluginFeatures& features, bool value) {
    const bool switches[] = {features.findClientByPhone, features.findClientByDocument, features.signatureUnlock,
                             features.sendInvoice, features.sendProtocol, features.recall, features.informProtocol,
                             features.externalProtocol, features.selfUpdateClientPhoneNumber,
                             features.underMaintenance, features.eventManager};
    for (bool each : switches)
        if (each != value) return false;
    return true;
}

TEST(PluginConfigurationTest, EveryKeyReachesItsPlace) {
    TempDir dir;
    std::string debug = dir.file("debug.log");
    std::string path = dir.write("ivr.json", R"({
        "ignoreEmptyBarCode": true, "kestro": "http://127.0.0.1:1", "token": "tok",
        "escapeCode": "999", "language": "pt_BR", "defaultContext": "orvel-out",
        "debug": ")" + debug + R"(",
        "plugin": {"driver": "ixc", "id": "42", "extra": [1, 2]},
        "feature": {"findClientByPhone": false, "findClientByDocument": false, "signatureUnlock": false,
                    "sendInvoice": false, "sendProtocol": false, "recall": false, "informProtocol": false,
                    "externalProtocol": false, "selfUpdateClientPhoneNumber": false,
                    "underMaintenance": false, "eventManager": false},
        "httpTimeout": 25, "httpConnectTimeout": 4, "verifyTls": true, "caFile": "/etc/ssl/ca.pem",
        "unknown": {"ignored": true}
    })");
    RecordingSession session;
    HookedPlugin plugin;
    plugin.loadConfiguration(session, path.c_str());

    EXPECT_TRUE(plugin.isIgnoreEmptyBarCode());
    EXPECT_EQ(plugin.getBaseUri(), "http://127.0.0.1:1");
    EXPECT_EQ(plugin.getAccessToken(), "tok");
    EXPECT_EQ(plugin.getEscapeCode(), "999");
    EXPECT_TRUE(hasLine(session.operations(), "setLanguage pt_BR"));
    ASSERT_NE(session.getDefaultContext(), nullptr);
    EXPECT_STREQ(session.getDefaultContext(), "orvel-out");
    ASSERT_NE(session.getDebugLogger(), nullptr);
    EXPECT_EQ(session.getDebugLogger(), debug);
    EXPECT_EQ(plugin.getPluginDriver(), "ixc");
    EXPECT_EQ(plugin.getPluginId(), "42");

    // The hook got the whole object, before switches and client existed.
    EXPECT_EQ(plugin.hookCalls, 1);
    EXPECT_EQ(plugin.received["extra"].size(), 2u);
    EXPECT_FALSE(plugin.featuresExistedInHook);
    EXPECT_FALSE(plugin.clientExistedInHook);

    ASSERT_NE(plugin.getFeatures(), nullptr);
    EXPECT_TRUE(allSwitches(*plugin.getFeatures(), false));
    EXPECT_NE(plugin.getHttp(), nullptr);
    EXPECT_EQ(plugin.backOffice.totalSeconds, 25);
    EXPECT_EQ(plugin.backOffice.connectSeconds, 4);
    EXPECT_TRUE(plugin.backOffice.verifyTls);
    EXPECT_EQ(plugin.backOffice.caFile, "/etc/ssl/ca.pem");

    // The file has no profile: that is no failure.
    EXPECT_FALSE(hasLine(session.operations(), "verbose failure on load profile"));
    // Nothing else has touched the call.
    EXPECT_EQ(session.callSteps(), std::vector<std::string>{"setLanguage pt_BR"});
}

TEST(PluginConfigurationTest, WrongTypesKeepTheDefaultsSilently) {
    TempDir dir;
    std::string path = dir.write("ivr.json", R"({
        "ignoreEmptyBarCode": 1, "kestro": 5, "token": ["t"], "escapeCode": 999, "language": true,
        "defaultContext": {}, "debug": 3,
        "plugin": {"driver": 1, "id": 7},
        "feature": {"recall": "no", "eventManager": 0, "sendInvoice": false, "bogus": false},
        "httpTimeout": "30", "httpConnectTimeout": -2, "verifyTls": "yes", "caFile": 1
    })");
    RecordingSession session;
    HookedPlugin plugin;
    plugin.loadConfiguration(session, path.c_str());

    EXPECT_FALSE(plugin.isIgnoreEmptyBarCode());
    EXPECT_EQ(plugin.getBaseUri(), "");
    EXPECT_EQ(plugin.getAccessToken(), "");
    EXPECT_EQ(plugin.getEscapeCode(), "");
    EXPECT_EQ(session.getDefaultContext(), nullptr);
    EXPECT_EQ(session.getDebugLogger(), nullptr);
    EXPECT_TRUE(session.operationsNamed("setLanguage").empty());
    EXPECT_EQ(plugin.getPluginDriver(), "");
    EXPECT_EQ(plugin.getPluginId(), "");
    // The "plugin" object itself is an object: the hook still runs.
    EXPECT_EQ(plugin.hookCalls, 1);

    const PluginFeatures& features = *plugin.getFeatures();
    EXPECT_TRUE(features.recall);
    EXPECT_TRUE(features.eventManager);
    EXPECT_FALSE(features.sendInvoice);  // the one well-typed switch
    EXPECT_TRUE(features.findClientByPhone);

    EXPECT_EQ(plugin.backOffice.totalSeconds, 10);
    EXPECT_EQ(plugin.backOffice.connectSeconds, 3);
    EXPECT_FALSE(plugin.backOffice.verifyTls);
    EXPECT_EQ(plugin.backOffice.caFile, "");

    // No message about the skipped keys: only the hook's and the profile's.
    EXPECT_EQ(session.operations(),
              (std::vector<std::string>{"verbose hook", "verbose no profile in configuration file " + path}));
}

TEST(PluginConfigurationTest, TransferLimitsOutsideTheirRangeAreIgnored) {
    TempDir dir;
    RecordingSession session;
    Exposed<Plugin> zero;
    zero.loadConfiguration(session, dir.write("a.json", R"({"httpTimeout": 0, "httpConnectTimeout": 1e300})").c_str());
    EXPECT_EQ(zero.backOffice.totalSeconds, 10);
    EXPECT_EQ(zero.backOffice.connectSeconds, 3);

    Exposed<Plugin> fraction;
    fraction.loadConfiguration(session, dir.write("b.json", R"({"httpTimeout": 0.5, "httpConnectTimeout": 2})").c_str());
    EXPECT_EQ(fraction.backOffice.totalSeconds, 1);  // rounded up, never to "no limit"
    EXPECT_EQ(fraction.backOffice.connectSeconds, 2);
}

TEST(PluginConfigurationTest, WithoutFeatureObjectEverySwitchIsOn) {
    TempDir dir;
    RecordingSession session;
    Plugin plugin;
    plugin.loadConfiguration(session, dir.write("ivr.json", R"({"feature": [false]})").c_str());
    ASSERT_NE(plugin.getFeatures(), nullptr);
    EXPECT_TRUE(allSwitches(*plugin.getFeatures(), true));
    // Without a "plugin" object no endpoint is ever set.
    EXPECT_EQ(plugin.getEndpointFindClientByDocument(), "");
    EXPECT_EQ(plugin.getEndpointSaveIdentification(), "");
}

TEST(PluginConfigurationTest, UnusableFilesAreReportedAndLeaveEverythingUnset) {
    TempDir dir;
    {
        RecordingSession session;
        HookedPlugin plugin;
        std::string missing = dir.file("missing.json");
        plugin.loadConfiguration(session, missing.c_str());
        EXPECT_EQ(session.operations(), std::vector<std::string>{"verbose configuration file " + missing + " not exists"});
        EXPECT_EQ(plugin.getFeatures(), nullptr);
        EXPECT_EQ(plugin.getHttp(), nullptr);
        EXPECT_EQ(plugin.hookCalls, 0);
    }
    for (const char* content : {"{\"kestro\": ", "", "not json at all"}) {
        RecordingSession session;
        HookedPlugin plugin;
        std::string path = dir.write("broken.json", content);
        plugin.loadConfiguration(session, path.c_str());
        EXPECT_EQ(session.operations(),
                  std::vector<std::string>{"verbose failure on load json configuration from file " + path})
            << content;
        EXPECT_EQ(plugin.getFeatures(), nullptr);
        EXPECT_EQ(plugin.getHttp(), nullptr);
        EXPECT_EQ(plugin.hookCalls, 0);
    }
    {
        RecordingSession session;
        Plugin plugin;
        plugin.loadConfiguration(session, nullptr);
        EXPECT_TRUE(session.operations().empty());
    }
}

TEST(PluginConfigurationTest, RootThatIsNotAnObjectReadsAsNoKeys) {
    TempDir dir;
    for (const char* content : {"[1, 2, {\"kestro\": \"x\"}]", "42", "\"kestro\"", "null", "true"}) {
        RecordingSession session;
        HookedPlugin plugin;
        plugin.loadConfiguration(session, dir.write("root.json", content).c_str());
        EXPECT_EQ(plugin.getBaseUri(), "") << content;
        EXPECT_EQ(plugin.hookCalls, 0) << content;
        ASSERT_NE(plugin.getFeatures(), nullptr) << content;
        EXPECT_TRUE(allSwitches(*plugin.getFeatures(), true));
        EXPECT_NE(plugin.getHttp(), nullptr);
        EXPECT_FALSE(hasLine(session.operations(), "verbose failure on load profile")) << content;
    }
}

TEST(PluginConfigurationTest, ProfileFailureKeepsTheRestOfTheConfiguration) {
    TempDir dir;
    RecordingSession session;
    Plugin plugin;
    plugin.loadConfiguration(session,
                             dir.write("ivr.json", R"({"kestro": "http://x", "profile": {"route": 5}})").c_str());
    EXPECT_TRUE(hasLine(session.operations(), "verbose failure on load profile"));
    EXPECT_EQ(plugin.getBaseUri(), "http://x");
    EXPECT_NE(plugin.getHttp(), nullptr);
    // Every key falls back to itself.
    EXPECT_EQ(plugin.getProfileDestination("50005"), "50005");
}

TEST(PluginConfigurationTest, ConfigurationFaceAnswersForTheModule) {
    TempDir dir;
    RecordingSession session;
    session.setAsteriskVariable("agi_callerid", "11987654321");
    session.setAsteriskVariable("agi_channel", "SIP/100-0001");
    Plugin plugin;
    plugin.loadConfiguration(session,
                             dir.write("ivr.json", R"({"kestro": "http://b", "token": "t", "plugin": {"driver": "d", "id": "i"}})").c_str());
    plugin.setEndpointFindClientByDocument("/doc/");
    plugin.setEndpointFindClientByPhone("/phone/");
    plugin.setEndpointFindClientUnlock("/unlock");
    plugin.setEndpointFindInvoiceSend("/send");
    plugin.setEndpointSendProtocol("/protocol");
    plugin.setEndpointSaveIdentification("/ident");
    plugin.setEndpointExternalProtocol("/ticket");
    plugin.loadEnv(session);
    plugin.setMark("header-lumora", "77");

    Configuration& face = plugin;
    EXPECT_EQ(face.getEndpointFindClientByDocument(), "/doc/");
    EXPECT_EQ(face.getEndpointFindClientByPhone(), "/phone/");
    EXPECT_EQ(face.getEndpointFindClientUnlock(), "/unlock");
    EXPECT_EQ(face.getEndpointFindInvoiceSend(), "/send");
    EXPECT_EQ(face.getEndpointSendProtocol(), "/protocol");
    EXPECT_EQ(face.getEndpointSaveIdentification(), "/ident");
    EXPECT_EQ(face.getEndpointExternalProtocol(), "/ticket");
    EXPECT_EQ(face.getBaseUri(), "http://b");
    EXPECT_EQ(face.getAccessToken(), "t");
    EXPECT_EQ(face.getCallerId(), "11987654321");
    EXPECT_EQ(face.getProtocol(), "");  // no agi_uniqueid in the environment
    EXPECT_EQ(face.getChannel(), "SIP/100-0001");
    EXPECT_EQ(face.getModuleName(), "plugin");
    EXPECT_EQ(face.getPluginDriver(), "d");
    EXPECT_EQ(face.getPluginId(), "i");
    ASSERT_NE(face.getMark("header-lumora"), nullptr);
    EXPECT_STREQ(face.getMark("header-lumora"), "77");
    EXPECT_EQ(face.getMark("nothing"), nullptr);

    plugin.rename("orvel");
    EXPECT_EQ(face.getModuleName(), "orvel");
    EXPECT_STREQ(plugin.getName(), "orvel");
    plugin.rename(nullptr);
    EXPECT_EQ(face.getModuleName(), "plugin");
    EXPECT_STREQ(plugin.getName(), "plugin");

    plugin.setDestination(session, "7000");
    EXPECT_EQ(plugin.getCommandDestination(), "7000");
    plugin.setDestination(session, nullptr);
    EXPECT_EQ(plugin.getCommandDestination(), "");
}

// The transfer limit of the configuration reaches the client: a back office
// that answers only after the limit counts as not answering.
TEST(PluginConfigurationTest, HttpTimeoutBoundsTheBackOfficeRequests) {
    LocalHttpServer server;
    server.handle("GET", "/service/v1/ready", [&server](const RecordedRequest&) {
        server.sleepUnlessStopped(std::chrono::seconds(5));
        CannedResponse ready;
        ready.body = R"({"state":"ready"})";
        return ready;
    });
    TempDir dir;
    RecordingSession session;
    Plugin plugin;
    plugin.loadConfiguration(
        session, dir.write("ivr.json", R"({"kestro": ")" + server.baseUrl() + R"(", "httpTimeout": 1})").c_str());
    ASSERT_NE(plugin.getHttp(), nullptr);
    EXPECT_FALSE(plugin.getHttp()->isReady(session));
    EXPECT_TRUE(hasLine(session.operations(), "verbose failure on verify information if service is ready"));
}

}  // namespace
}  // namespace tarvik::testing
