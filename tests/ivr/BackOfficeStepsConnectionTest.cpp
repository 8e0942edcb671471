#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "ivr/BackOfficeSteps.h"
#include "tests/ivr/BackOfficeTestSupport.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"

namespace tarvik {
namespace {

using testing::LocalHttpServer;
using testing::TestConfiguration;

// A call's whole conversation with the back office rides one connection.
TEST(BackOfficeStepsConnectionTest, ADozenOperationsShareOneConnection) {
    LocalHttpServer server(true);
    const std::string customer = R"({"document":"123","signatures":[{"id":"s-1"}]})";
    server.answer("GET", "/service/v1/ready", 200, R"({"state":"ready"})");
    server.answer("GET", "/ivr/client/phone/11987654321", 200, customer);
    server.answer("GET", "/ivr/client/document/123", 200, customer);
    server.answer("PUT", "/ivr/unlock", 202, "");
    server.answer("POST", "/ivr/invoice/send", 200, "");
    server.answer("POST", "/ivr/protocol", 202, "");
    server.answer("POST", "/ivr/protocol/external", 200, R"({"externalId":"E"})");
    server.answer("POST", "/ivr/identification", 200, "");
    server.answer("POST", "/service/v1/recall/meta/search", 200, R"({"attempt":1})");
    server.answer("POST", "/service/v1/recall/meta/register", 202, "");
    server.answer("POST", "/service/v1/integration/log", 200, "");
    server.answer("POST", "/service/v1/logger", 200, "");
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    RecordingSession session;

    EXPECT_TRUE(client.isReady(session));
    std::unique_ptr<ISPClient> byPhone(client.getClientByPhone(session, config.callerId, config.protocol));
    std::unique_ptr<ISPClient> found(client.getClientByDocument(session, "123", config.callerId, config.protocol));
    ASSERT_NE(found, nullptr);
    ISPSignature* contract = found->getSignatures().at(0).get();
    EXPECT_TRUE(client.unlock(session, found.get(), contract, config.callerId));
    EXPECT_TRUE(client.sendInvoice(session, found.get(), contract, config.callerId));
    EXPECT_TRUE(client.informProtocol(session, found.get(), contract, "P"));
    EXPECT_EQ(client.getExternalProtocol(session, found.get(), contract), "E");
    EXPECT_TRUE(client.saveIdentification(session, found.get()));
    EXPECT_TRUE(client.addToRecall(session, "123", config.callerId, config.protocol));
    EXPECT_TRUE(client.isRecall(session, "123"));
    EXPECT_TRUE(client.addEvent(session, "forward", "kestro-addon", "50001"));
    client.logger(session, "50001", "forward", nullptr, nullptr, nullptr, nullptr, nullptr);

    EXPECT_NE(byPhone, nullptr);
    EXPECT_EQ(server.requestCount(), 12u);
    EXPECT_EQ(server.connectionCount(), 1u);
}

}  // namespace
}  // namespace tarvik
