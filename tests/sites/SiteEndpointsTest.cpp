#include <gtest/gtest.h>

#include "sites/orvel/OrvelV3.h"
#include "sites/pelion/Pelion.h"
#include "tests/ivr/PluginTestConfig.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {
namespace {

template <typename Module>
void expectEndpointsBuilt() {
    TempDir dir;
    RecordingSession session;
    Module module;
    module.loadConfiguration(session, dir.write("ivr.json", R"({"plugin": {"driver": "ixc", "id": "7"}})").c_str());

    EXPECT_EQ(module.getEndpointFindClientByDocument(), "/service/v1/isp/ixc/7/document/");
    EXPECT_EQ(module.getEndpointFindClientByPhone(), "/service/v1/isp/ixc/7/phone/");
    EXPECT_EQ(module.getEndpointFindClientUnlock(), "/service/v1/isp/ixc/7/unlock");
    EXPECT_EQ(module.getEndpointFindInvoiceSend(), "/service/v1/isp/ixc/7/send");
    EXPECT_EQ(module.getEndpointSendProtocol(), "/service/v1/isp/ixc/7/protocol");
    EXPECT_EQ(module.getEndpointExternalProtocol(), "/service/v1/isp/ixc/7/ticket");
    EXPECT_EQ(module.getEndpointSaveIdentification(), "/service/v1/identification");
    EXPECT_EQ(module.getPluginDriver(), "ixc");
    EXPECT_EQ(module.getPluginId(), "7");
    EXPECT_TRUE(hasLine(session.operations(), "verbose success on load plugin data"));
    // The module keeps its base name.
    EXPECT_STREQ(module.getName(), "plugin");
}

template <typename Module>
void expectPluginDataRefused(const std::string& plugin) {
    TempDir dir;
    RecordingSession session;
    Module module;
    module.loadConfiguration(session, dir.write("ivr.json", R"({"plugin": )" + plugin + "}").c_str());

    EXPECT_TRUE(hasLine(session.operations(), "verbose failure on load plugin data")) << plugin;
    EXPECT_FALSE(hasLine(session.operations(), "verbose success on load plugin data")) << plugin;
    EXPECT_EQ(module.getEndpointFindClientByDocument(), "") << plugin;
    EXPECT_EQ(module.getEndpointFindClientByPhone(), "");
    EXPECT_EQ(module.getEndpointFindClientUnlock(), "");
    EXPECT_EQ(module.getEndpointFindInvoiceSend(), "");
    EXPECT_EQ(module.getEndpointSendProtocol(), "");
    EXPECT_EQ(module.getEndpointExternalProtocol(), "");
    EXPECT_EQ(module.getEndpointSaveIdentification(), "");
}

TEST(SiteEndpointsTest, BothModulesBuildTheSevenEndpoints) {
    expectEndpointsBuilt<OrvelV3>();
    expectEndpointsBuilt<Pelion>();
}

TEST(SiteEndpointsTest, PluginDataWithoutTextDriverAndIdChangesNothing) {
    for (const char* plugin : {R"({"driver": "ixc", "id": 7})", R"({"id": "7"})", R"({"driver": "ixc"})", "{}",
                               R"({"driver": null, "id": "7"})"}) {
        expectPluginDataRefused<OrvelV3>(plugin);
        expectPluginDataRefused<Pelion>(plugin);
    }
}

TEST(SiteEndpointsTest, DriverAndIdAreTakenAsWritten) {
    // Nothing is escaped: the operator's text goes into the path unchanged.
    TempDir dir;
    RecordingSession session;
    OrvelV3 module;
    module.loadConfiguration(session,
                             dir.write("ivr.json", R"({"plugin": {"driver": "a b", "id": "x/y"}})").c_str());
    EXPECT_EQ(module.getEndpointFindClientByDocument(), "/service/v1/isp/a b/x/y/document/");
}

}  // namespace
}  // namespace tarvik::testing
