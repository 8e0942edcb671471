// The caller's path against a back office that redirects: no request but a
// GET follows (libcurl would send a POST again without its body), and each
// operation fails exactly as it does when the back office cannot be reached.

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ivr/BackOfficeSteps.h"
#include "api/RecordPath.h"
#include "tests/ivr/BackOfficeTestSupport.h"
#include "tests/support/LocalHttpServer.h"
#include "agi/RecordingSession.h"
#include "tests/support/RefusingPort.h"

namespace tarvik {
namespace {

using testing::CannedResponse;
using testing::LocalHttpServer;
using testing::RecordedRequest;
using testing::TestConfiguration;
using Lines = std::vector<std::string>;

// What the records sent in line were settled on: "kind status location".
class SettledRecords : public RecordPath {
public:
    Lines settled;

    void send(BackOfficeRecord) override { ADD_FAILURE() << "records go in line here"; }
    void settle(const BackOfficeRecord& record, const KestroAgiDataSourceResult* answer, TransferFault) override {
        settled.push_back(record.kind + " " + (answer != nullptr ? std::to_string(answer->getCode()) : "none") + " " +
                          (answer != nullptr ? answer->getLocation() : ""));
    }
    std::vector<std::string> takeNotices() override { return {}; }
};

// Every operation of the caller's path that sends a body, in one call;
// what it returned and what it logged.
struct Outcome {
    std::vector<bool> succeeded;
    Lines operations;
    Lines settled;
};

Outcome runEveryBodyOperation(TestConfiguration& config) {
    BackOfficeSteps client(&config);
    SettledRecords records;
    client.client().setRecordPath(&records);
    ISPClient owner;
    owner.setDocument("12345678909");
    ISPSignature contract;
    contract.setId("s-77");
    RecordingSession session;
    Outcome outcome;
    outcome.succeeded = {
        client.unlock(session, &owner, &contract, "11999990000"),
        client.sendInvoice(session, &owner, &contract, "11999990000"),
        client.informProtocol(session, &owner, &contract, "2024-0001"),
        !client.getExternalProtocol(session, &owner, &contract).empty(),
        client.saveIdentification(session, &owner),
        client.isRecall(session, "123"),
        client.addToRecall(session, "123", "1199", "u-1"),
        client.addEvent(session, "forward", "m", "50001"),
    };
    client.logger(session, "50001", "forward", "one", nullptr, nullptr, nullptr, nullptr);
    outcome.operations = session.operations();
    outcome.settled = records.settled;
    return outcome;
}

const std::vector<std::pair<std::string, std::string>> kBodyRoutes = {
    {"PUT", "/ivr/unlock"},
    {"POST", "/ivr/invoice/send"},
    {"POST", "/ivr/protocol"},
    {"POST", "/ivr/protocol/external"},
    {"POST", "/ivr/identification"},
    {"POST", "/service/v1/recall/meta/search"},
    {"POST", "/service/v1/recall/meta/register"},
    {"POST", "/service/v1/integration/log"},
    {"POST", "/service/v1/logger"},
};

TEST(BackOfficeStepsRedirectTest, ARedirectedRequestWithABodyFailsAsAnUnreachableBackOfficeAndGoesOnce) {
    testing::RefusingPort refusing;
    TestConfiguration unreachable(refusing.baseUrl());
    ::testing::internal::CaptureStderr();
    const Outcome lost = runEveryBodyOperation(unreachable);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(lost.succeeded, std::vector<bool>(8, false));
    EXPECT_EQ(lost.settled, (Lines{"recall none ", "event none ", "logger none "}));

    LocalHttpServer server;
    int status = 0;
    const std::string elsewhere = server.baseUrl() + "/elsewhere";
    for (const auto& [method, path] : kBodyRoutes) {
        server.handle(method, path, [&status, &elsewhere](const RecordedRequest&) {
            CannedResponse moved;
            moved.status = status;
            moved.headers = {{"Location", elsewhere}};
            return moved;
        });
    }
    for (const char* method : {"GET", "POST", "PUT"}) server.answer(method, "/elsewhere", 200, "{}");

    for (int code : {301, 302, 303, 307, 308}) {
        status = code;
        server.clearRequests();
        TestConfiguration config(server.baseUrl());
        ::testing::internal::CaptureStderr();
        const Outcome redirected = runEveryBodyOperation(config);
        const std::string errors = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(redirected.succeeded, lost.succeeded) << code;
        EXPECT_EQ(redirected.operations, lost.operations) << code;
        // The records wait on the redirect itself, which names where it pointed.
        const std::string answer = " " + std::to_string(code) + " " + elsewhere;
        EXPECT_EQ(redirected.settled, (Lines{"recall" + answer, "event" + answer, "logger" + answer})) << code;
        // Each went once, with its body; nothing reached where it pointed.
        const std::vector<RecordedRequest> seen = server.requests();
        ASSERT_EQ(seen.size(), kBodyRoutes.size()) << code;
        for (std::size_t index = 0; index < seen.size(); ++index) {
            EXPECT_EQ(seen[index].method, kBodyRoutes[index].first) << code;
            EXPECT_EQ(seen[index].path, kBodyRoutes[index].second) << code;
            EXPECT_FALSE(seen[index].body.empty()) << code << " " << seen[index].path;
        }
        const std::string line = "answer " + std::to_string(code) + " redirecting to " + elsewhere +
                                 " not followed: a POST is never sent again without its body\n";
        EXPECT_NE(errors.find(line), std::string::npos) << errors;
        EXPECT_NE(errors.find("not followed: a PUT is never sent again"), std::string::npos) << errors;
    }

    // A GET still follows a redirect on its own origin.
    server.handle("GET", "/service/v1/ready", [](const RecordedRequest&) {
        CannedResponse moved;
        moved.status = 302;
        moved.headers = {{"Location", "/service/v2/ready"}};
        return moved;
    });
    server.answer("GET", "/service/v2/ready", 200, R"({"state":"ready"})");
    server.clearRequests();
    TestConfiguration config(server.baseUrl());
    BackOfficeSteps client(&config);
    RecordingSession session;
    EXPECT_TRUE(client.isReady(session));
    EXPECT_EQ(server.requestCount(), 2u);
}

}  // namespace
}  // namespace tarvik
