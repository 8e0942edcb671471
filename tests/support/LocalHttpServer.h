#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace tarvik::testing {

// One request as the local server received it.
struct RecordedRequest {
    std::string method;  // "GET", "POST", ...
    std::string path;    // without the query
    std::string query;   // raw text after '?', empty when none
    std::string target;  // raw request target ("/a/b?x=1")
    // Header lines as the server parsed them (its order is case-insensitive
    // by name, not the order on the wire), and the same as a map (last
    // value per exact name).
    std::vector<std::pair<std::string, std::string>> headers;
    std::map<std::string, std::string> headerMap;
    std::string body;
    int remotePort = -1;  // client port: one per TCP connection

    bool hasHeader(const std::string& name) const;  // exact name, case-insensitive
    std::string header(const std::string& name) const;  // "" when absent
};

// What a handler (or a canned answer) sends back.
struct CannedResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

// An HTTP server on 127.0.0.1 with an ephemeral port, run in a background
// thread for the length of a test. Routes are exact method + path; a request
// without a route gets 404 with an empty body. Every request is recorded.
//
// By default every answer closes its connection. With keepAlive the server
// keeps connections open, idle ones longer than any test runs, which tests
// of connection reuse need; stopping shuts down those still open.
class LocalHttpServer {
public:
    using Handler = std::function<CannedResponse(const RecordedRequest&)>;

    // Starts listening; fails the test (and leaves baseUrl empty) when the
    // server is not ready within a few seconds.
    explicit LocalHttpServer(bool keepAlive = false);
    ~LocalHttpServer();  // stops and joins

    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // "http://127.0.0.1:PORT", without a trailing slash.
    const std::string& baseUrl() const { return base; }
    int port() const { return listeningPort; }

    // Register a canned answer or a handler for a method ("GET") and path.
    void answer(const std::string& method, const std::string& path, int status, const std::string& body,
                const std::string& contentType = "application/json");
    void handle(const std::string& method, const std::string& path, Handler handler);

    // Copies, taken under the lock.
    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    RecordedRequest lastRequest() const;  // empty record when none
    // Distinct client connections seen (by client port).
    std::size_t connectionCount() const;
    void clearRequests();

    // Waits until at least `count` requests were recorded, up to `deadline`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds deadline) const;

    // For slow handlers: sleeps up to `duration`, returning early (false)
    // once the server is stopping, so a test never waits on its own sleeper.
    bool sleepUnlessStopped(std::chrono::milliseconds duration) const;

    void stop();

private:
    CannedResponse dispatch(const RecordedRequest& request);

    std::unique_ptr<httplib::Server> server;
    std::thread worker;
    std::string base;
    int listeningPort = 0;

    mutable std::mutex lock;
    mutable std::condition_variable changed;  // new request, or stopping
    bool stopping = false;
    std::map<std::pair<std::string, std::string>, Handler> routes;
    std::vector<RecordedRequest> received;
};

}  // namespace tarvik::testing
