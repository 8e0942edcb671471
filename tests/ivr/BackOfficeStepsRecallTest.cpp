#include <map>
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
using Variables = std::map<std::string, std::string>;

class BackOfficeStepsRecallTest : public ::testing::Test {
protected:
    LocalHttpServer server;
    TestConfiguration config{server.baseUrl()};
    BackOfficeSteps client{&config};
};

TEST_F(BackOfficeStepsRecallTest, IsRecallReadsAnIntegralAttempt) {
    config.marks["header-lumora"] = "L";
    server.answer("POST", "/service/v1/recall/meta/search", 500, R"({"attempt":0})");
    RecordingSession session;
    EXPECT_TRUE(client.isRecall(session, "123"));
    EXPECT_EQ(session.operations(), (Lines{"noop checking if is recall to document: 123 in orvel.ivr",
                                           "setVariable RECALL_ATTEMPT 0",
                                           "noop [result recall] document: 123in orvel.ivr is 0 attempt"}));
    const auto request = server.lastRequest();
    EXPECT_EQ(request.body, "{\"destination\":\"orvel.ivr\",\"document\":\"123\"}\n");
    EXPECT_EQ(request.header("Addon-Lumora"), "L");
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");

    const std::vector<std::pair<std::string, std::string>> recalls = {{R"({"attempt":2.0})", "2"},
                                                                      {R"({"attempt":-3})", "-3"},
                                                                      {R"({"attempt":2147483647})", "2147483647"}};
    for (const auto& [body, text] : recalls) {
        server.answer("POST", "/service/v1/recall/meta/search", 200, body);
        RecordingSession recall;
        EXPECT_TRUE(client.isRecall(recall, "9"));
        EXPECT_EQ(recall.variablesSet(), (Variables{{"RECALL_ATTEMPT", text}})) << body;
    }
    for (const char* body : {R"({"attempt":"2"})", R"({"attempt":2.5})", R"({"attempt":2147483648})",
                             R"({"attempt":true})", R"({"attempts":1})", R"([1])", "{}"}) {
        server.answer("POST", "/service/v1/recall/meta/search", 200, body);
        RecordingSession notRecall;
        EXPECT_FALSE(client.isRecall(notRecall, "9")) << body;
        EXPECT_EQ(notRecall.operations(), Lines{"noop checking if is recall to document: 9 in orvel.ivr"}) << body;
    }
}

TEST_F(BackOfficeStepsRecallTest, IsRecallFailures) {
    RecordingSession session;
    EXPECT_FALSE(client.isRecall(session, ""));
    EXPECT_TRUE(session.operations().empty());
    EXPECT_EQ(server.requestCount(), 0u);

    server.answer("POST", "/service/v1/recall/meta/search", 200, "<html/>");
    EXPECT_FALSE(client.isRecall(session, "%s"));
    testing::RefusingPort refusing;
    config.baseUri = refusing.baseUrl();
    EXPECT_FALSE(client.isRecall(session, "%s"));
    EXPECT_EQ(session.operations(),
              (Lines{"noop checking if is recall to document: %s in orvel.ivr",
                     "verbose failure on response, error on json parse (recall)",
                     "noop checking if is recall to document: %s in orvel.ivr",
                     "verbose failure on verify information about recall to document: %s"}));
    EXPECT_TRUE(session.variablesSet().empty());
}

TEST_F(BackOfficeStepsRecallTest, AddToRecallRegistersAndAcceptsOnly202) {
    server.answer("POST", "/service/v1/recall/meta/register", 202, "");
    RecordingSession session;
    EXPECT_TRUE(client.addToRecall(session, "123", "1199", "u-1"));
    EXPECT_EQ(session.operations(),
              (Lines{"noop saving to recall history: document=> 123, phone=> 1199, uniqueId=> u-1",
                     "noop saved recall history: document=> 123, phone=> 1199, uniqueId=> u-1"}));
    EXPECT_EQ(server.lastRequest().body,
              "{\"destination\":\"orvel.ivr\",\"document\":\"123\",\"e164\":\"1199\",\"module\":\"kestro-addon\","
              "\"uniqueId\":\"u-1\"}\n");

    for (int status : {200, 201}) {
        server.answer("POST", "/service/v1/recall/meta/register", status, "");
        RecordingSession refused;
        EXPECT_FALSE(client.addToRecall(refused, "123", "1199", "u-1"));
        EXPECT_EQ(refused.operations(),
                  (Lines{"noop saving to recall history: document=> 123, phone=> 1199, uniqueId=> u-1",
                         "verbose failure on save recall 123",
                         "noop failure on add to recall: document=> 123, phone=> 1199, uniqueId=> u-1"}));
    }

    const std::size_t sent = server.requestCount();
    RecordingSession missing;
    EXPECT_FALSE(client.addToRecall(missing, "123", "", "u-1"));
    BackOfficeSteps unconfigured(nullptr);
    EXPECT_FALSE(unconfigured.addToRecall(missing, "1", "2", "3"));
    EXPECT_EQ(missing.operations(),
              (Lines{"noop saving to recall history: document=> 123, phone=> , uniqueId=> u-1",
                     "verbose failure on add to recall, document, phone, protocol or access token is empty",
                     "noop failure on add to recall: document=> 123, phone=> , uniqueId=> u-1",
                     "noop saving to recall history: document=> 1, phone=> 2, uniqueId=> 3",
                     "verbose configuration is empty",
                     "noop failure on add to recall: document=> 1, phone=> 2, uniqueId=> 3"}));
    EXPECT_EQ(server.requestCount(), sent);
}

TEST_F(BackOfficeStepsRecallTest, AddEventAcceptsAny2xxAndSetsTheChannelVariables) {
    server.answer("POST", "/service/v1/integration/log", 204, "");
    RecordingSession session;
    EXPECT_TRUE(client.addEvent(session, "ORVEL_IVR_DOCUMENT", "kestro-addon", "123"));
    EXPECT_EQ(session.operations(),
              (Lines{"noop saving to recall history: data=> 123, phone=> 11987654321, uniqueId=> 1700000000.42",
                     "setVariable ORVEL_IVR_DOCUMENT 123", "setVariable ORVEL_IVR_PHONE 11987654321",
                     "noop saved event: data=> 123, phone=> 11987654321, uniqueId=> 1700000000.42"}));
    EXPECT_EQ(server.lastRequest().body,
              "{\"data\":\"123\",\"event\":\"ORVEL_IVR_DOCUMENT\",\"module\":\"kestro-addon\","
              "\"source\":\"11987654321\",\"uniqueId\":\"1700000000.42\"}\n");

    server.answer("POST", "/service/v1/integration/log", 400, "");
    RecordingSession refused;
    EXPECT_FALSE(client.addEvent(refused, "forward", "m", "50001"));
    EXPECT_EQ(refused.operations(),
              (Lines{"noop saving to recall history: data=> 50001, phone=> 11987654321, uniqueId=> 1700000000.42",
                     "verbose failure on add event with data50001",
                     "noop failure on add event: data=> 50001, phone=> 11987654321, uniqueId=> 1700000000.42"}));
    EXPECT_TRUE(refused.variablesSet().empty());

    const std::size_t sent = server.requestCount();
    BackOfficeSteps unconfigured(nullptr);
    RecordingSession missing;
    EXPECT_FALSE(unconfigured.addEvent(missing, "e", "m", "d"));
    config.protocol.clear();
    EXPECT_FALSE(client.addEvent(missing, "e", "m", "d"));
    EXPECT_EQ(missing.operations(),
              (Lines{"verbose configuration is empty", "noop failure on add event: data=> d, phone=> , uniqueId=> ",
                     "noop saving to recall history: data=> d, phone=> 11987654321, uniqueId=> ",
                     "verbose failure on save event, protocol, phone or access token is empty",
                     "noop failure on add event: data=> d, phone=> 11987654321, uniqueId=> "}));
    EXPECT_EQ(server.requestCount(), sent);
}

TEST_F(BackOfficeStepsRecallTest, LoggerSendsJsonWithTheGivenDataAndJudgesNothing) {
    config.marks["header-lumora"] = "L";
    server.answer("POST", "/service/v1/logger", 500, "refused");
    RecordingSession session;
    client.logger(session, "50001", "forward", "one", "two", nullptr, nullptr, nullptr);
    EXPECT_TRUE(session.operations().empty());
    const auto request = server.lastRequest();
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_FALSE(request.hasHeader("Addon-Lumora"));
    EXPECT_EQ(request.body,
              "{\"callerId\":\"11987654321\",\"channel\":\"PJSIP/trunk-00000001\",\"data1\":\"one\",\"data2\":\"two\","
              "\"destination\":\"50001\",\"eventModule\":\"OrvelV3\",\"eventType\":\"forward\","
              "\"linkedId\":\"1700000000.42\",\"source\":\"11987654321\",\"uniqueId\":\"1700000000.42\"}\n");

    client.logger(session, "d", "t", nullptr, nullptr, nullptr, nullptr, "five \"quoted\"");
    EXPECT_NE(server.lastRequest().body.find(",\"data5\":\"five \\\"quoted\\\"\",\"destination\":"), std::string::npos);

    const std::string missingText =
        "verbose failure on set logger module name,  callerId, protocol, channel or accessToken is empty";
    const std::size_t sent = server.requestCount();
    RecordingSession missing;
    client.logger(missing, "50001", "", "x", nullptr, nullptr, nullptr, nullptr);
    client.logger(missing, "", "forward", nullptr, nullptr, nullptr, nullptr, nullptr);
    config.channel.clear();
    client.logger(missing, "50001", "forward", nullptr, nullptr, nullptr, nullptr, nullptr);
    BackOfficeSteps unconfigured(nullptr);
    unconfigured.logger(missing, "50001", "forward", nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(missing.operations(), Lines(4, missingText));
    EXPECT_EQ(server.requestCount(), sent);

    testing::RefusingPort refusing;
    config = TestConfiguration(refusing.baseUrl());
    RecordingSession refused;
    client.logger(refused, "50001", "forward", nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(refused.operations(), Lines{"verbose failure on set logger with caller id11987654321"});
}

}  // namespace
}  // namespace tarvik
