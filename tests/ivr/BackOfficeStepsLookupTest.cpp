#include <memory>
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

const char* const kCustomer =
    R"({"id":"c-9","document":"12345678909","unknown":[1,2],"signatures":[{"id":"s-1","state":"blocked"}]})";

TEST(BackOfficeStepsLookupTest, ByPhoneSendsTheLookupHeadersAndMapsTheCustomer) {
    LocalHttpServer server;
    server.answer("GET", "/ivr/client/phone/11987654321", 200, kCustomer);
    TestConfiguration config(server.baseUrl());
    config.marks["header-lumora"] = "L1";
    BackOfficeSteps client(&config);
    RecordingSession session;

    std::unique_ptr<ISPClient> found(client.getClientByPhone(session, "11987654321", "1700000000.42"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->getId(), "c-9");
    EXPECT_EQ(found->getDocument(), "12345678909");
    ASSERT_EQ(found->getSignatures().size(), 1u);
    EXPECT_EQ(found->getSignatures()[0]->getState(), ISPSignature::BLOCKED);
    EXPECT_TRUE(session.operations().empty());

    const auto request = server.lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/ivr/client/phone/11987654321");
    EXPECT_EQ(request.header("x-ivr-phone"), "11987654321");
    EXPECT_EQ(request.header("x-ivr-protocol"), "1700000000.42");
    EXPECT_EQ(request.header("Addon-Lumora"), "L1");
    EXPECT_EQ(request.header("PreAuthorization"), "Bearer tok-1");
    EXPECT_EQ(request.body, "");
}

TEST(BackOfficeStepsLookupTest, ByDocumentAppendsTheTypedDigitsAndSendsTheGivenPhone) {
    LocalHttpServer server;
    server.answer("GET", "/ivr/client/document/12345678909", 404, kCustomer);  // the status is not judged
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    RecordingSession session;

    std::unique_ptr<ISPClient> found(client.getClientByDocument(session, "12345678909", "5511", ""));
    ASSERT_NE(found, nullptr);
    const auto request = server.lastRequest();
    EXPECT_EQ(request.target, "/ivr/client/document/12345678909");
    EXPECT_EQ(request.header("x-ivr-phone"), "5511");
    EXPECT_FALSE(request.hasHeader("x-ivr-protocol"));  // empty value: not transmitted
    EXPECT_FALSE(request.hasHeader("Addon-Lumora"));
}

TEST(BackOfficeStepsLookupTest, HostileValuesStayInsideTheirPathSegment) {
    LocalHttpServer server;
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"../../service/v1/ready", "..%2F..%2Fservice%2Fv1%2Fready"},
        {"..", "%2E%2E"},
        {".", "%2E"},
        {"123?admin=1", "123%3Fadmin%3D1"},
        {"123#frag", "123%23frag"},
        {"12 34", "12%2034"},
        {"a/b%41", "a%2Fb%2541"},
        {"+55 (11) 9", "%2B55%20%2811%29%209"},
        {"Az09-._~", "Az09-._~"},
    };
    for (const auto& [value, encoded] : cases) {
        server.clearRequests();
        RecordingSession session;
        EXPECT_EQ(client.getClientByPhone(session, value, "p"), nullptr);
        EXPECT_EQ(client.getClientByDocument(session, value, "5511", "p"), nullptr);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u) << value;
        EXPECT_EQ(requests[0].target, "/ivr/client/phone/" + encoded) << value;
        EXPECT_EQ(requests[1].target, "/ivr/client/document/" + encoded) << value;
        // Messages carry the value as given; a header never carries CR/LF.
        EXPECT_EQ(session.operations(), (Lines{"verbose failure on response, error on json parse (find by phone)",
                                               "verbose failure on response, error on json parse (find by document)"}));
    }

    // Bytes beyond ASCII are encoded one by one.
    server.clearRequests();
    RecordingSession session;
    EXPECT_EQ(client.getClientByDocument(session, "Jos\xC3\xA9", "5511", "p"), nullptr);
    EXPECT_EQ(server.lastRequest().target, "/ivr/client/document/Jos%C3%A9");

    // Line breaks in a caller's number open no line of their own, neither in
    // the request line nor in the "x-ivr-phone" header.
    testing::RawOneShotServer raw("{}");
    config.baseUri = raw.baseUrl();
    EXPECT_EQ(client.getClientByPhone(session, "12\r\nX-Injected: 1", "p"), nullptr);
    const std::string head = raw.head();
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET /ivr/client/phone/12%0D%0AX-Injected%3A%201 HTTP/1.1");
    EXPECT_EQ(head.find("\r\nX-Injected"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nx-ivr-phone: 12X-Injected: 1\r\n"), std::string::npos) << head;
}

TEST(BackOfficeStepsLookupTest, PreconditionsSendNothing) {
    LocalHttpServer server;
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    const std::string phoneText = "verbose phone, access token or endpoint to find client by phone is empty";
    const std::string documentText =
        "verbose document, access token or endpoint to find client by document is empty";

    RecordingSession session;
    EXPECT_EQ(client.getClientByPhone(session, "", "p"), nullptr);
    EXPECT_EQ(client.getClientByDocument(session, "", "1", "p"), nullptr);
    config.accessToken.clear();
    EXPECT_EQ(client.getClientByPhone(session, "1", "p"), nullptr);
    EXPECT_EQ(client.getClientByDocument(session, "1", "1", "p"), nullptr);
    config.accessToken = "tok";
    config.byPhone.clear();
    config.byDocument.clear();
    EXPECT_EQ(client.getClientByPhone(session, "1", "p"), nullptr);
    EXPECT_EQ(client.getClientByDocument(session, "1", "1", "p"), nullptr);
    BackOfficeSteps unconfigured(nullptr);
    EXPECT_EQ(unconfigured.getClientByPhone(session, "1", "p"), nullptr);
    EXPECT_EQ(unconfigured.getClientByDocument(session, "1", "1", "p"), nullptr);
    EXPECT_EQ(session.operations(), (Lines{phoneText, documentText, phoneText, documentText, phoneText, documentText,
                                           "verbose configuration is empty", "verbose configuration is empty"}));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(BackOfficeStepsLookupTest, AnswersWithoutATextDocumentFindNobody) {
    LocalHttpServer server;
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{}", "document not found in response"},
        {R"({"document":123})", "document not found in response"},
        {R"({"document":null})", "document not found in response"},
        {R"([{"document":"1"}])", "document not found in response"},
        {R"({"error":"not found"})", "document not found in response"},
        {"<html>404</html>", "failure on response, error on json parse (find by phone)"},
    };
    for (const auto& [body, text] : cases) {
        server.answer("GET", "/ivr/client/phone/1", 200, body);
        RecordingSession session;
        EXPECT_EQ(client.getClientByPhone(session, "1", "p"), nullptr) << body;
        EXPECT_EQ(session.operations(), Lines{"verbose " + text}) << body;
    }

    testing::RefusingPort refusing;
    config.baseUri = refusing.baseUrl();
    RecordingSession session;
    EXPECT_EQ(client.getClientByPhone(session, "11%s%n", "p"), nullptr);
    EXPECT_EQ(client.getClientByDocument(session, "98%d", "1", "p"), nullptr);
    EXPECT_EQ(session.operations(), (Lines{"verbose failure on get client by phone: 11%s%n",
                                           "verbose failure on get client by document: 98%d"}));
}

TEST(BackOfficeStepsLookupTest, AMinimalDocumentGivesAClientWithoutContracts) {
    LocalHttpServer server;
    server.answer("GET", "/ivr/client/document/1", 200, R"({"document":"1","standard":{"id":"x"}})");
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    RecordingSession session;
    std::unique_ptr<ISPClient> found(client.getClientByDocument(session, "1", "2", "3"));
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->getSignatures().empty());
    ASSERT_NE(found->getStandard(), nullptr);
    EXPECT_EQ(found->getStandard()->getId(), "x");
}

}  // namespace
}  // namespace tarvik
