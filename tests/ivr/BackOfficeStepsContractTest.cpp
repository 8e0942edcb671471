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

// A customer with one contract, as the lookups would have built it.
struct Customer {
    ISPClient client;
    ISPSignature contract;
    Customer() {
        client.setDocument("12345678909");
        contract.setId("s-77");
    }
};

class BackOfficeStepsContractTest : public ::testing::Test {
protected:
    LocalHttpServer server;
    TestConfiguration config{server.baseUrl()};
    BackOfficeSteps client{&config};
    Customer customer;
    ISPClient* const owner = &customer.client;
    ISPSignature* const contract = &customer.contract;
};

TEST_F(BackOfficeStepsContractTest, UnlockPutsTheContractAndAcceptsOnly200Or202Silently) {
    config.marks["header-lumora"] = "L";
    for (int status : {200, 202, 204, 500}) {
        server.answer("PUT", "/ivr/unlock", status, "");
        RecordingSession session;
        EXPECT_EQ(client.unlock(session, owner, contract, "11999990000"), status == 200 || status == 202) << status;
        EXPECT_TRUE(session.operations().empty()) << status;
    }
    const auto request = server.lastRequest();
    EXPECT_EQ(request.method, "PUT");
    EXPECT_EQ(request.target, "/ivr/unlock");
    EXPECT_EQ(request.body, "{\"contract\":\"s-77\",\"document\":\"12345678909\"}\n");
    EXPECT_EQ(request.header("Addon-Lumora"), "L");
    EXPECT_EQ(request.header("PreAuthorization"), "Bearer tok-1");
    EXPECT_FALSE(request.hasHeader("x-ivr-phone"));
}

TEST_F(BackOfficeStepsContractTest, SendInvoicePostsThePhoneAndAcceptsOnly200) {
    server.answer("POST", "/ivr/invoice/send", 200, "");
    RecordingSession session;
    EXPECT_TRUE(client.sendInvoice(session, owner, contract, "11999990000"));
    const auto request = server.lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/ivr/invoice/send");
    EXPECT_EQ(request.body, "{\"contract\":\"s-77\",\"document\":\"12345678909\",\"phone\":\"11999990000\"}\n");
    // No Content-Type of the client's own: libcurl's default for posted fields.
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");

    server.answer("POST", "/ivr/invoice/send", 202, "");
    EXPECT_FALSE(client.sendInvoice(session, owner, contract, "11999990000"));
    EXPECT_EQ(session.operations(), Lines{"verbose failure on send invoice client"});
}

TEST_F(BackOfficeStepsContractTest, InformProtocolPostsTheCallerAndAcceptsOnly202) {
    server.answer("POST", "/ivr/protocol", 202, "");
    RecordingSession session;
    EXPECT_TRUE(client.informProtocol(session, owner, contract, "2024-0001"));
    EXPECT_EQ(server.lastRequest().body,
              "{\"contract\":\"s-77\",\"document\":\"12345678909\",\"phone\":\"11987654321\",\"protocol\":\"2024-0001\"}\n");
    server.answer("POST", "/ivr/protocol", 200, "");
    EXPECT_FALSE(client.informProtocol(session, owner, contract, "2024-0001"));
    EXPECT_EQ(session.operations(), Lines{"verbose failure on response"});
}

TEST_F(BackOfficeStepsContractTest, ExternalProtocolReadsTheExternalId) {
    server.answer("POST", "/ivr/protocol/external", 200, R"({"externalId":"EXT-9","x":1})");
    RecordingSession session;
    EXPECT_EQ(client.getExternalProtocol(session, owner, contract), "EXT-9");
    EXPECT_TRUE(session.operations().empty());
    EXPECT_EQ(server.lastRequest().body,
              "{\"channel\":\"PJSIP/trunk-00000001\",\"contract\":\"s-77\",\"document\":\"12345678909\","
              "\"phone\":\"11987654321\",\"protocol\":\"1700000000.42\"}\n");

    const std::vector<std::pair<int, std::string>> answers = {{200, R"({"externalId":9})"},
                                                              {200, R"(["EXT"])"},
                                                              {200, "not json"},
                                                              {201, R"({"externalId":"EXT-9"})"}};
    RecordingSession failing;
    for (const auto& [status, body] : answers) {
        server.answer("POST", "/ivr/protocol/external", status, body);
        EXPECT_EQ(client.getExternalProtocol(failing, owner, contract), "") << body;
    }
    EXPECT_EQ(failing.operations(), (Lines{"verbose externalId is not available in response (get external protocol)",
                                           "verbose externalId is not available in response (get external protocol)",
                                           "verbose failure on response, error on json parse (get external protocol)",
                                           "verbose failure on response"}));
}

TEST_F(BackOfficeStepsContractTest, SaveIdentificationPostsTheIvrRecordAndReportsTheRefusalBody) {
    server.answer("POST", "/ivr/identification", 200, "");
    RecordingSession session;
    EXPECT_TRUE(client.saveIdentification(session, owner));
    EXPECT_EQ(server.lastRequest().body,
              "{\"data1\":\"ivr\",\"data2\":\"OrvelV3\",\"data3\":\"11987654321\",\"document\":\"12345678909\","
              "\"phone\":\"11987654321\"}\n");
    // The back office's text is logged as it came, never as a format.
    server.answer("POST", "/ivr/identification", 400, "bad %s%n%d");
    EXPECT_FALSE(client.saveIdentification(session, owner));
    EXPECT_EQ(session.operations(), Lines{"verbose failure on response: bad %s%n%d"});
}

TEST_F(BackOfficeStepsContractTest, RecordChecksComeFirstAndSendNothing) {
    RecordingSession session;
    BackOfficeSteps unconfigured(nullptr);
    ISPClient noDocument;
    ISPSignature noId;
    EXPECT_FALSE(unconfigured.unlock(session, nullptr, contract, "1"));
    EXPECT_FALSE(client.unlock(session, owner, nullptr, "1"));
    EXPECT_FALSE(unconfigured.sendInvoice(session, owner, nullptr, "1"));
    EXPECT_FALSE(unconfigured.informProtocol(session, &noDocument, contract, "p"));
    EXPECT_FALSE(client.informProtocol(session, owner, &noId, "p"));
    EXPECT_FALSE(client.informProtocol(session, owner, nullptr, "p"));
    EXPECT_EQ(unconfigured.getExternalProtocol(session, nullptr, contract), "");
    EXPECT_EQ(client.getExternalProtocol(session, &noDocument, contract), "");
    EXPECT_EQ(client.getExternalProtocol(session, owner, nullptr), "");
    EXPECT_FALSE(unconfigured.saveIdentification(session, &noDocument));
    EXPECT_FALSE(client.saveIdentification(session, nullptr));
    EXPECT_EQ(session.operations(),
              (Lines{"verbose client or signature is empty", "verbose client or signature is empty",
                     "verbose client or signature is empty", "verbose client or signature is invalid",
                     "verbose client or signature is invalid", "verbose client or signature is invalid",
                     "verbose client is invalid", "verbose client is invalid", "verbose client or signature is invalid",
                     "verbose client is invalid", "verbose client is invalid"}));

    RecordingSession unconfiguredSession;
    EXPECT_FALSE(unconfigured.unlock(unconfiguredSession, owner, contract, "1"));
    EXPECT_FALSE(unconfigured.sendInvoice(unconfiguredSession, owner, contract, "1"));
    EXPECT_FALSE(unconfigured.informProtocol(unconfiguredSession, owner, contract, "p"));
    EXPECT_EQ(unconfigured.getExternalProtocol(unconfiguredSession, owner, contract), "");
    EXPECT_FALSE(unconfigured.saveIdentification(unconfiguredSession, owner));
    EXPECT_EQ(unconfiguredSession.operations(), Lines(5, "verbose configuration is empty"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(BackOfficeStepsContractTest, MissingValuesSendNothing) {
    const std::string unlockText = "verbose phone, access token or endpoint to unlock client is empty";
    const std::string phoneText = "verbose phone, access token or endpoint to find client by phone is empty";
    const std::string externalText =
        "verbose phone, protocol, channel, access token or endpoint to get external protocol is empty";
    RecordingSession session;
    // Empty arguments.
    EXPECT_FALSE(client.unlock(session, owner, contract, ""));
    EXPECT_FALSE(client.sendInvoice(session, owner, contract, ""));
    EXPECT_FALSE(client.informProtocol(session, owner, contract, ""));
    // Empty endpoints.
    config.unlockPath.clear();
    config.invoiceSend.clear();
    config.sendProtocol.clear();
    config.externalProtocol.clear();
    config.saveIdentification.clear();
    EXPECT_FALSE(client.unlock(session, owner, contract, "1"));
    EXPECT_FALSE(client.sendInvoice(session, owner, contract, "1"));
    EXPECT_FALSE(client.informProtocol(session, owner, contract, "p"));
    EXPECT_EQ(client.getExternalProtocol(session, owner, contract), "");
    EXPECT_FALSE(client.saveIdentification(session, owner));
    EXPECT_EQ(session.operations(), (Lines{unlockText, unlockText, phoneText, unlockText, unlockText, phoneText,
                                           externalText, phoneText}));

    // Empty call identifiers and token, endpoints restored.
    config = TestConfiguration(server.baseUrl());
    RecordingSession identifiers;
    config.channel.clear();
    EXPECT_EQ(client.getExternalProtocol(identifiers, owner, contract), "");
    config.channel = "c";
    config.protocol.clear();
    EXPECT_EQ(client.getExternalProtocol(identifiers, owner, contract), "");
    config.callerId.clear();
    EXPECT_FALSE(client.informProtocol(identifiers, owner, contract, "p"));
    EXPECT_FALSE(client.saveIdentification(identifiers, owner));
    config.callerId = "1";
    config.accessToken.clear();
    EXPECT_FALSE(client.unlock(identifiers, owner, contract, "1"));
    EXPECT_FALSE(client.sendInvoice(identifiers, owner, contract, "1"));
    EXPECT_EQ(identifiers.operations(),
              (Lines{externalText, externalText, phoneText, phoneText, unlockText, unlockText}));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(BackOfficeStepsContractTest, TransferFailuresNameTheCustomerOrTheCaller) {
    testing::RefusingPort refusing;
    config.baseUri = refusing.baseUrl();
    config.callerId = "11%n";
    customer.client.setDocument("123%s");
    RecordingSession session;
    EXPECT_FALSE(client.unlock(session, owner, contract, "1"));
    EXPECT_FALSE(client.sendInvoice(session, owner, contract, "1"));
    EXPECT_FALSE(client.informProtocol(session, owner, contract, "p"));
    EXPECT_EQ(client.getExternalProtocol(session, owner, contract), "");
    EXPECT_FALSE(client.saveIdentification(session, owner));
    EXPECT_EQ(session.operations(),
              (Lines{"verbose failure on unlock client: 123%s", "verbose failure on send invoice client: 123%s",
                     "verbose failure on send protocol to: 11%n", "verbose failure on get external protocol: 11%n",
                     "verbose failure on send protocol to: 11%n"}));
}

}  // namespace
}  // namespace tarvik
