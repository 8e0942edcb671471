#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <tuple>

#include "api/KestroAgiRESTFul.h"
#include "tests/support/LocalHttpServer.h"

namespace tarvik {
namespace {

using testing::CannedResponse;
using testing::LocalHttpServer;
using testing::RecordedRequest;
using ResultPtr = std::unique_ptr<KestroAgiDataSourceResult>;

ResultPtr run(KestroAgiRESTFul& request) { return ResultPtr(request.execute()); }

std::string urlOf(const LocalHttpServer& server, const std::string& path) { return server.baseUrl() + path; }

TEST(RestFulRequestTest, SetterRulesAndMethodNames) {
    KestroAgiRESTFul request;
    EXPECT_EQ(0, request.getMethod());
    EXPECT_EQ(nullptr, request.getUrl());
    EXPECT_EQ(nullptr, request.getBody());
    request.setMethod("PoSt");
    EXPECT_EQ(1, request.getMethod());
    request.setMethod("patch");
    EXPECT_EQ(1, request.getMethod());
    request.setMethod("Delete");
    EXPECT_EQ(3, request.getMethod());
    request.setMethod(static_cast<const char*>(nullptr));
    EXPECT_EQ(0, request.getMethod());

    EXPECT_TRUE(request.setHeader("x-b", "first"));
    EXPECT_FALSE(request.setHeader("x-b", "second"));
    EXPECT_FALSE(request.setHeader(nullptr, "v"));
    EXPECT_FALSE(request.setParameter(nullptr, "v"));
    EXPECT_EQ("first", request.getHeaders().at("x-b"));

    request.setBody("one");
    request.setBody("two");
    EXPECT_STREQ("two", request.getBody());
    request.setBody(nullptr);
    EXPECT_EQ(nullptr, request.getBody());

    // Calls must never wait forever: the limits have defaults and zero does
    // not switch them off.
    EXPECT_EQ(3, request.getTransferOptions().connectSeconds);
    EXPECT_EQ(10, request.getTransferOptions().totalSeconds);
    EXPECT_FALSE(request.getTransferOptions().verifyTls);
    request.setTimeouts(0, -5);
    EXPECT_EQ(3, request.getTransferOptions().connectSeconds);
    EXPECT_EQ(10, request.getTransferOptions().totalSeconds);
}

TEST(RestFulRequestTest, GetAndDeleteCarryParametersInTheQuery) {
    LocalHttpServer server;
    server.answer("GET", "/items", 200, "{\"ok\":1}");
    server.answer("DELETE", "/items", 200, "gone");

    KestroAgiRESTFul get;
    get.setUrl(urlOf(server, "/items").c_str());
    get.setParameter("b", "2");
    get.setParameter("a", "1");
    ResultPtr result = run(get);
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(200, result->getCode());
    EXPECT_STREQ("{\"ok\":1}", result->getText());
    EXPECT_EQ("GET", server.lastRequest().method);
    EXPECT_EQ("a=1&b=2", server.lastRequest().query);

    KestroAgiRESTFul plain;
    plain.setUrl(urlOf(server, "/items").c_str());
    ASSERT_NE(nullptr, run(plain));
    EXPECT_EQ("/items", server.lastRequest().target);

    KestroAgiRESTFul remove;
    remove.setMethod(KestroAgiRESTFul::METHOD_DELETE);
    remove.setUrl(urlOf(server, "/items").c_str());
    remove.setParameter("id", "7");
    remove.setBody("never sent");
    result = run(remove);
    ASSERT_NE(nullptr, result);
    EXPECT_STREQ("gone", result->getText());
    EXPECT_EQ("DELETE", server.lastRequest().method);
    EXPECT_EQ("id=7", server.lastRequest().query);
    EXPECT_EQ("", server.lastRequest().body);
}

TEST(RestFulRequestTest, PostAndPutSendBodyOrParameters) {
    LocalHttpServer server;
    server.answer("POST", "/form", 202, "");
    server.answer("PUT", "/form", 200, "put");

    KestroAgiRESTFul withBody;
    withBody.setMethod(KestroAgiRESTFul::METHOD_POST);
    withBody.setUrl(urlOf(server, "/form").c_str());
    withBody.setBody("{\"a\":\"1\"}\n");
    withBody.setParameter("ignored", "yes");
    ResultPtr result = run(withBody);
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(202, result->getCode());
    ASSERT_NE(nullptr, result->getText());
    EXPECT_STREQ("", result->getText());  // empty body: empty text, not null
    RecordedRequest seen = server.lastRequest();
    EXPECT_EQ("POST", seen.method);
    EXPECT_EQ("{\"a\":\"1\"}\n", seen.body);
    EXPECT_EQ("", seen.query);
    EXPECT_EQ("application/x-www-form-urlencoded", seen.header("Content-Type"));

    KestroAgiRESTFul withParameters;
    withParameters.setMethod("post");
    withParameters.setUrl(urlOf(server, "/form").c_str());
    withParameters.setParameter("y", "2");
    withParameters.setParameter("x", "a b");  // sent as is, not encoded
    ASSERT_NE(nullptr, run(withParameters));
    EXPECT_EQ("x=a b&y=2", server.lastRequest().body);

    KestroAgiRESTFul put;
    put.setMethod("PUT");
    put.setUrl(urlOf(server, "/form").c_str());
    put.setParameter("k", "v");
    result = run(put);
    ASSERT_NE(nullptr, result);
    EXPECT_STREQ("put", result->getText());
    EXPECT_EQ("PUT", server.lastRequest().method);
    EXPECT_EQ("k=v", server.lastRequest().body);
    put.setBody("document");
    ASSERT_NE(nullptr, run(put));
    EXPECT_EQ("document", server.lastRequest().body);
}

TEST(RestFulRequestTest, EmptyPostNeverReadsStandardInput) {
    LocalHttpServer server;
    server.answer("POST", "/empty", 200, "ok");

    // Standard input carries the AGI channel: put bytes there that must stay.
    int channel[2];
    ASSERT_EQ(0, pipe(channel));
    ASSERT_EQ(6, write(channel[1], "AGI-IN", 6));
    close(channel[1]);
    const int savedInput = dup(STDIN_FILENO);
    ASSERT_EQ(STDIN_FILENO, dup2(channel[0], STDIN_FILENO));
    close(channel[0]);

    KestroAgiRESTFul request;
    request.setMethod(KestroAgiRESTFul::METHOD_POST);
    request.setUrl(urlOf(server, "/empty").c_str());
    ResultPtr result = run(request);

    fcntl(STDIN_FILENO, F_SETFL, O_NONBLOCK);
    char left[16] = {};
    const ssize_t unread = read(STDIN_FILENO, left, sizeof left);
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);

    ASSERT_NE(nullptr, result);
    EXPECT_EQ("", server.lastRequest().body);
    EXPECT_EQ("0", server.lastRequest().header("Content-Length"));
    EXPECT_EQ(6, unread);
    EXPECT_EQ("AGI-IN", std::string(left, unread > 0 ? static_cast<size_t>(unread) : 0));
}

TEST(RestFulRequestTest, StatusCodesAreNotJudgedAndRedirectsFollowed) {
    LocalHttpServer server;
    server.answer("GET", "/missing", 404, "{\"error\":\"no client\"}");
    server.answer("GET", "/broken", 500, "");
    server.handle("GET", "/old", [](const RecordedRequest&) {
        CannedResponse moved;
        moved.status = 302;
        moved.headers = {{"Location", "/new"}};
        return moved;
    });
    server.answer("GET", "/new", 200, "moved here");

    for (const auto& [path, code, text] : {std::tuple{"/missing", 404, "{\"error\":\"no client\"}"},
                                          std::tuple{"/broken", 500, ""}, std::tuple{"/old", 200, "moved here"}}) {
        KestroAgiRESTFul request;
        request.setUrl(urlOf(server, path).c_str());
        ResultPtr result = run(request);
        ASSERT_NE(nullptr, result) << path;
        EXPECT_EQ(code, result->getCode()) << path;
        ASSERT_NE(nullptr, result->getText()) << path;
        EXPECT_STREQ(text, result->getText()) << path;
    }
}

// The token is a header of our own, which libcurl would carry anywhere: a
// redirect is followed only on the request's own scheme, host and port.
TEST(RestFulRequestTest, RedirectsElsewhereFailTheTransferBeforeTheRequestLeaves) {
    LocalHttpServer backOffice;
    LocalHttpServer elsewhere;
    elsewhere.answer("GET", "/steal", 200, "stolen");
    backOffice.answer("GET", "/new", 200, "moved here");
    const std::string otherHost = "http://localhost:" + std::to_string(backOffice.port()) + "/new";
    const std::string otherPort = elsewhere.baseUrl() + "/steal";
    const std::string otherScheme = "https://127.0.0.1:" + std::to_string(backOffice.port()) + "/new";
    for (const std::string& location : {otherHost, otherPort, otherScheme}) {
        backOffice.handle("GET", "/old", [location](const RecordedRequest&) {
            CannedResponse moved;
            moved.status = 302;
            moved.headers = {{"Location", location}};
            return moved;
        });
        backOffice.clearRequests();
        ::testing::internal::CaptureStderr();
        KestroAgiRESTFul request;
        request.setUrl(urlOf(backOffice, "/old").c_str());
        request.setHeader("PreAuthorization", "Bearer secret");
        ResultPtr result = run(request);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(nullptr, result) << location;
        EXPECT_EQ("curl_easy_perform() failed: redirect to " + location + " refused: not on http://127.0.0.1:" +
                      std::to_string(backOffice.port()) + "\n",
                  errors);
        EXPECT_EQ(1u, backOffice.requestCount()) << location;  // /new was never asked for
    }
    EXPECT_EQ(0u, elsewhere.requestCount());

    // On the same origin, however spelt, the redirect is followed.
    backOffice.handle("GET", "/old", [&backOffice](const RecordedRequest&) {
        CannedResponse moved;
        moved.status = 301;
        moved.headers = {{"Location", "HTTP://127.0.0.1:" + std::to_string(backOffice.port()) + "/new"}};
        return moved;
    });
    KestroAgiRESTFul request;
    request.setUrl(urlOf(backOffice, "/old").c_str());
    ResultPtr result = run(request);
    ASSERT_NE(nullptr, result);
    EXPECT_STREQ("moved here", result->getText());
}

TEST(RestFulRequestTest, TransferFailuresGiveNullAndOneLineOnStandardError) {
    LocalHttpServer server;
    server.handle("GET", "/slow", [&server](const RecordedRequest&) {
        server.sleepUnlessStopped(std::chrono::seconds(20));
        return CannedResponse{200, "late", "text/plain", {}};
    });
    server.answer("GET", "/huge", 200, std::string(KestroAgiRESTFul::kMaxResponseBytes + 1, 'x'), "text/plain");
    server.answer("GET", "/limit", 200, std::string(KestroAgiRESTFul::kMaxResponseBytes, 'x'), "text/plain");

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    KestroAgiRESTFul slow;
    slow.setUrl(urlOf(server, "/slow").c_str());
    slow.setTimeouts(1, 1);
    ResultPtr timedOut = run(slow);

    KestroAgiRESTFul huge;
    huge.setUrl(urlOf(server, "/huge").c_str());
    ResultPtr tooBig = run(huge);

    // A port nobody listens on: the server's own port once it is stopped.
    LocalHttpServer closed;
    const std::string closedUrl = urlOf(closed, "/");
    closed.stop();
    KestroAgiRESTFul refused;
    refused.setUrl(closedUrl.c_str());
    ResultPtr noConnection = run(refused);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    const std::string output = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(nullptr, timedOut);
    EXPECT_EQ(nullptr, tooBig);
    EXPECT_EQ(nullptr, noConnection);
    EXPECT_NE(std::string::npos, errors.find("curl_easy_perform() failed: Timeout was reached\n")) << errors;
    EXPECT_NE(std::string::npos, errors.find("curl_easy_perform() failed: Couldn't connect to server\n")) << errors;
    EXPECT_EQ(3, std::count(errors.begin(), errors.end(), '\n')) << errors;
    EXPECT_EQ("", output);

    KestroAgiRESTFul limit;
    limit.setUrl(urlOf(server, "/limit").c_str());
    ResultPtr atLimit = run(limit);
    ASSERT_NE(nullptr, atLimit);
    EXPECT_EQ(KestroAgiRESTFul::kMaxResponseBytes, std::string(atLimit->getText()).size());
}

TEST(RestFulRequestTest, WriteCallbackStopsAtTheBodyLimit) {
    std::string buffer(KestroAgiRESTFul::kMaxResponseBytes - 2, 'x');
    char chunk[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(0u, KestroAgiRESTFul::callbackDataWrite(chunk, 1, 4, &buffer));  // would pass the limit
    EXPECT_EQ(KestroAgiRESTFul::kMaxResponseBytes - 2, buffer.size());
    EXPECT_EQ(2u, KestroAgiRESTFul::callbackDataWrite(chunk, 2, 1, &buffer));
    EXPECT_EQ("ab", buffer.substr(buffer.size() - 2));
}

TEST(RestFulRequestTest, RequestsOfOneProcessShareOneConnection) {
    LocalHttpServer server(true);
    server.answer("GET", "/ready", 200, "{\"state\":\"ready\"}");
    server.answer("POST", "/log", 200, "");
    for (int round = 0; round < 2; ++round) {
        KestroAgiRESTFul ready;
        ready.setUrl(urlOf(server, "/ready").c_str());
        ASSERT_NE(nullptr, run(ready));
        KestroAgiRESTFul log;
        log.setMethod(KestroAgiRESTFul::METHOD_POST);
        log.setUrl(urlOf(server, "/log").c_str());
        log.setBody("{}\n");
        ASSERT_NE(nullptr, run(log));
    }
    EXPECT_EQ(4u, server.requestCount());
    EXPECT_EQ(1u, server.connectionCount());
}

}  // namespace
}  // namespace tarvik
