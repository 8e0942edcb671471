// A record sent to a local back office and judged on what came back: a
// redirect is never followed (libcurl would post again without the body),
// and Retry-After holds the back office for at most an hour.

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "api/ApiRequest.h"
#include "api/KestroAgiRESTFul.h"
#include "records/DeliveryVerdict.h"
#include "tests/support/LocalHttpServer.h"

namespace tarvik {
namespace {

using testing::CannedResponse;
using testing::LocalHttpServer;
using testing::RecordedRequest;

const std::string kEvent = "/service/v1/integration/log";

BackOfficeRecord eventRecord(int method) {
    BackOfficeRecord made;
    made.kind = "event";
    made.method = method;
    made.path = kEvent;
    made.headers["Content-Type"] = "application/json";
    made.body = "{\"data\":\"50001\"}";
    made.failureText = "failure on add event with data50001";
    return made;
}

KestroAgiRESTFul::TransferOptions bounded() {
    KestroAgiRESTFul::TransferOptions options;
    options.connectSeconds = 2;
    options.totalSeconds = 5;
    return options;
}

DeliveryVerdict sendAndJudge(const LocalHttpServer& server, const BackOfficeRecord& record) {
    TransferFault fault = TransferFault::none;
    KestroAgiRESTFul::TransferOptions options = bounded();
    options.fault = &fault;
    ApiRequest::Result answer = ApiRequest::sendRecord(record, server.baseUrl(), "tok", options);
    return DeliveryVerdict::judge(answer.get(), fault);
}

// Every redirect status, absolute or relative, on every method a record may
// carry: one request reaches the server, with its body, and the record waits
// naming the status and where it pointed.
TEST(DeliveryVerdictTest, ARedirectLeavesTheRecordWaitingAndIsNeverFollowed) {
    LocalHttpServer server;
    std::string location;
    int status = 0;
    auto redirect = [&location, &status](const RecordedRequest&) {
        CannedResponse moved;
        moved.status = status;
        moved.headers = {{"Location", location}};
        return moved;
    };
    for (const char* method : {"POST", "PUT", "DELETE"}) server.handle(method, kEvent, redirect);
    server.answer("POST", "/elsewhere", 200, "");
    server.answer("GET", "/elsewhere", 200, "");

    const std::string absolute = server.baseUrl() + "/elsewhere";
    for (int code : {301, 302, 303, 307, 308}) {
        for (const std::string& target : {absolute, std::string("/elsewhere")}) {
            for (int method : {KestroAgiRESTFul::METHOD_POST, KestroAgiRESTFul::METHOD_PUT,
                               KestroAgiRESTFul::METHOD_DELETE}) {
                status = code;
                location = target;
                server.clearRequests();
                const std::string label = std::to_string(code) + " " + target + " " +
                                          KestroAgiRESTFul::methodName(method);
                const DeliveryVerdict verdict = sendAndJudge(server, eventRecord(method));
                EXPECT_EQ(verdict.fate, DeliveryVerdict::Fate::waiting) << label;
                EXPECT_STREQ(verdict.metric, "redirected") << label;
                EXPECT_EQ(verdict.reason, "answer " + std::to_string(code) + " redirecting to " + absolute) << label;
                EXPECT_EQ(verdict.retryAfterSeconds, 0) << label;
                const std::vector<RecordedRequest> seen = server.requests();
                ASSERT_EQ(seen.size(), 1u) << label;
                EXPECT_EQ(seen[0].path, kEvent) << label;
                EXPECT_EQ(seen[0].method, KestroAgiRESTFul::methodName(method)) << label;
                if (method != KestroAgiRESTFul::METHOD_DELETE) {
                    EXPECT_EQ(seen[0].body, "{\"data\":\"50001\"}") << label;
                }
            }
        }
    }

    // A 3xx that points nowhere waits too, and says so.
    server.answer("POST", kEvent, 300, "");
    const DeliveryVerdict nowhere = sendAndJudge(server, eventRecord(KestroAgiRESTFul::METHOD_POST));
    EXPECT_EQ(nowhere.fate, DeliveryVerdict::Fate::waiting);
    EXPECT_EQ(nowhere.reason, "answer 300 redirecting nowhere (no Location)");
}

std::string httpDate(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// Retry-After as seconds or as an HTTP date, never more than an hour and
// never overflowing; what cannot be read, or lies in the past, is no pause.
TEST(DeliveryVerdictTest, RetryAfterIsReadAsSecondsOrADateAndCappedAtAnHour) {
    LocalHttpServer server;
    std::string retryAfter;
    server.handle("POST", kEvent, [&retryAfter](const RecordedRequest&) {
        CannedResponse busy;
        busy.status = 503;
        busy.headers = {{"Retry-After", retryAfter}};
        return busy;
    });
    const long cap = KestroAgiDataSourceResult::kMaxRetryAfterSeconds;
    EXPECT_EQ(cap, 3600);
    const std::time_t now = std::time(nullptr);
    const std::vector<std::pair<std::string, long>> exact = {
        {"120", 120},
        {" 45 ", 45},
        {"3600", cap},
        {"315360000", cap},
        {"99999999999999999999999999", cap},
        {"-5", 0},
        {"0", 0},
        {"soon", 0},
        {"10abc", 0},
        {"1e3", 0},
        {httpDate(now + 2 * 24 * 3600), cap},
        {httpDate(now - 600), 0},
        {"Wed, 21 Oct 2015 07:28:00 GMT", 0},
    };
    for (const auto& [value, seconds] : exact) {
        retryAfter = value;
        const DeliveryVerdict verdict = sendAndJudge(server, eventRecord(KestroAgiRESTFul::METHOD_POST));
        EXPECT_EQ(verdict.fate, DeliveryVerdict::Fate::waiting) << value;
        EXPECT_EQ(verdict.retryAfterSeconds, seconds) << value;
    }

    // Within the hour a date counts from the moment it is read (allowing
    // for a busy machine between writing and reading it).
    retryAfter = httpDate(std::time(nullptr) + 600);
    const DeliveryVerdict soon = sendAndJudge(server, eventRecord(KestroAgiRESTFul::METHOD_POST));
    EXPECT_LE(soon.retryAfterSeconds, 600) << retryAfter;
    EXPECT_GE(soon.retryAfterSeconds, 540) << retryAfter;
}

}  // namespace
}  // namespace tarvik
