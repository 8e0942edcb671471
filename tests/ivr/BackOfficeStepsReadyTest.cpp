#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ivr/BackOfficeSteps.h"
#include "tests/ivr/BackOfficeTestSupport.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"

namespace tarvik {
namespace {

using testing::LocalHttpServer;
using testing::TestConfiguration;
using Lines = std::vector<std::string>;

TEST(BackOfficeStepsReadyTest, SendsTheFrameHeadersAndLogsTheLumoraId) {
    LocalHttpServer server;
    server.answer("GET", "/service/v1/ready", 200, R"({"state":"ready"})");
    TestConfiguration config(server.baseUrl());
    config.marks["header-lumora"] = "77";
    BackOfficeSteps client(&config);
    RecordingSession session;

    EXPECT_TRUE(client.isReady(session));
    EXPECT_EQ(session.operations(), Lines{"verbose Lumora ID: 77"});
    ASSERT_EQ(server.requestCount(), 1u);
    const auto request = server.lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/service/v1/ready");
    EXPECT_EQ(request.header("Addon-Lumora"), "77");
    EXPECT_EQ(request.header("PreAuthorization"), "Bearer tok-1");
    EXPECT_FALSE(request.hasHeader("Authorization"));
    EXPECT_EQ(request.header("x-ivr-plugin-id"), "plugin-7");
    EXPECT_EQ(request.header("x-ivr-plugin-driver"), "orvel");
    EXPECT_FALSE(request.hasHeader("x-ivr-phone"));
    EXPECT_EQ(request.body, "");

    // Without the mark: "undefined", no such header; an empty token still
    // travels as "Bearer " (the probe does not check it) and an empty plugin
    // id is not transmitted at all.
    config.marks.clear();
    config.accessToken.clear();
    config.pluginId.clear();
    RecordingSession second;
    EXPECT_TRUE(client.isReady(second));
    EXPECT_EQ(second.operations(), Lines{"verbose Lumora ID: undefined"});
    const auto bare = server.lastRequest();
    EXPECT_FALSE(bare.hasHeader("Addon-Lumora"));
    EXPECT_TRUE(bare.hasHeader("PreAuthorization"));
    EXPECT_EQ(bare.header("PreAuthorization").rfind("Bearer", 0), 0u);
    EXPECT_FALSE(bare.hasHeader("x-ivr-plugin-id"));
}

TEST(BackOfficeStepsReadyTest, JudgesOnlyTheStateMemberOfTheBody) {
    LocalHttpServer server;
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    struct Case {
        int status;
        std::string body;
        bool ready;
        std::string failure;  // the verbose line after the Lumora line, if any
    };
    const std::vector<Case> cases = {
        {200, R"({"state":"Ready"})", true, ""},
        {200, R"({"state":"READY", "other": 1})", true, ""},
        {500, R"({"state":"ready"})", true, ""},
        {200, R"({"state":"ready "})", false, ""},
        {200, R"({"state":"starting"})", false, ""},
        {200, R"({"state":7})", false, "state is not available in response (check if is ready)"},
        {200, R"({"status":"ready"})", false, "state is not available in response (check if is ready)"},
        {200, R"(["ready"])", false, "state is not available in response (check if is ready)"},
        {200, "42", false, "state is not available in response (check if is ready)"},
        {200, "<html>down</html>", false, "failure on response, error on json parse (is ready)"},
        {200, "", false, "failure on response, error on json parse (is ready)"},
        {200, std::string(5000, '[') + std::string(5000, ']'), false,
         "failure on response, error on json parse (is ready)"},
        {200, "/* probe */ {\"state\": \"ready\"} // ok", true, ""},
    };
    for (const auto& item : cases) {
        server.answer("GET", "/service/v1/ready", item.status, item.body);
        RecordingSession session;
        EXPECT_EQ(client.isReady(session), item.ready) << item.body;
        Lines expected{"verbose Lumora ID: undefined"};
        if (!item.failure.empty()) expected.push_back("verbose " + item.failure);
        EXPECT_EQ(session.operations(), expected) << item.body;
    }
}

TEST(BackOfficeStepsReadyTest, FailuresWithoutAnAnswer) {
    RecordingSession session;
    BackOfficeSteps unconfigured(nullptr);
    EXPECT_FALSE(unconfigured.isReady(session));
    EXPECT_EQ(session.operations(), Lines{"verbose configuration is empty"});

    testing::RefusingPort refusing;
    TestConfiguration config(refusing.baseUrl());
    BackOfficeSteps client(&config);
    RecordingSession refused;
    EXPECT_FALSE(client.isReady(refused));
    EXPECT_EQ(refused.operations(),
              (Lines{"verbose Lumora ID: undefined", "verbose failure on verify information if service is ready"}));
}

TEST(BackOfficeStepsReadyTest, ABaseUriEndingInSlashIsNotRepaired) {
    LocalHttpServer server;
    server.answer("GET", "//service/v1/ready", 200, R"({"state":"ready"})");
    TestConfiguration config(server.baseUrl() + "/");
    BackOfficeSteps client(&config);
    RecordingSession session;
    EXPECT_TRUE(client.isReady(session));
    EXPECT_EQ(server.lastRequest().target, "//service/v1/ready");
}

TEST(BackOfficeStepsReadyTest, AnAnswerSlowerThanTheTotalLimitFailsTheOperation) {
    LocalHttpServer server;
    server.handle("GET", "/service/v1/ready", [&server](const testing::RecordedRequest&) {
        server.sleepUnlessStopped(std::chrono::seconds(5));
        testing::CannedResponse late;
        late.body = R"({"state":"ready"})";
        return late;
    });
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    client.client().setTimeouts(1, 1);
    RecordingSession session;
    EXPECT_FALSE(client.isReady(session));
    EXPECT_EQ(session.operations(),
              (Lines{"verbose Lumora ID: undefined", "verbose failure on verify information if service is ready"}));
}

}  // namespace
}  // namespace tarvik
