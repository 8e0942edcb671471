#include "tests/support/LocalHttpServer.h"

#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <strings.h>

#include <gtest/gtest.h>

namespace tarvik::testing {

namespace {

constexpr auto kReadyDeadline = std::chrono::seconds(5);
// Longer than any test: a kept connection is never closed for being idle
// while a test runs, so counting connections counts the client's doing.
constexpr time_t kIdleSeconds = 300;

// Shuts down this process's accepted connections on `port`. The library
// waits out an idle connection's keep-alive time before it stops; a shut
// down one ends at once.
void shutDownConnections(int port) {
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return;
    while (dirent* entry = readdir(descriptors)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const int fd = std::atoi(entry->d_name);
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t localLength = sizeof(local);
        socklen_t peerLength = sizeof(peer);
        // The listening socket has no peer; the client's own end has another local port.
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0 && local.sin_family == AF_INET &&
            ntohs(local.sin_port) == port && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    closedir(descriptors);
}

RecordedRequest record(const httplib::Request& request) {
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.target = request.target;
    const auto question = request.target.find('?');
    recorded.path = request.target.substr(0, question);
    if (question != std::string::npos) {
        recorded.query = request.target.substr(question + 1);
    }
    for (const auto& [name, value] : request.headers) {
        recorded.headers.emplace_back(name, value);
        recorded.headerMap[name] = value;
    }
    recorded.body = request.body;
    recorded.remotePort = request.remote_port;
    return recorded;
}

bool sameName(const std::string& left, const std::string& right) {
    return strcasecmp(left.c_str(), right.c_str()) == 0;
}

}  // namespace

bool RecordedRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&name](const auto& header) { return sameName(header.first, name); });
}

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) {
            return value;
        }
    }
    return "";
}

LocalHttpServer::LocalHttpServer(bool keepAlive) : server(std::make_unique<httplib::Server>()) {
    if (keepAlive) {
        server->set_keep_alive_max_count(100);
        server->set_keep_alive_timeout(kIdleSeconds);
    } else {
        server->set_keep_alive_max_count(1);
    }
    auto serve = [this](const httplib::Request& request, httplib::Response& response) {
        const RecordedRequest recorded = record(request);
        {
            std::lock_guard<std::mutex> guard(lock);
            received.push_back(recorded);
        }
        changed.notify_all();
        const CannedResponse answer = dispatch(recorded);
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers) {
            response.set_header(name, value);
        }
        response.set_content(answer.body, answer.contentType.c_str());
    };
    const char* everything = ".*";
    server->Get(everything, serve);
    server->Post(everything, serve);
    server->Put(everything, serve);
    server->Delete(everything, serve);
    server->Patch(everything, serve);
    server->Options(everything, serve);

    listeningPort = server->bind_to_any_port("127.0.0.1");
    if (listeningPort <= 0) {
        ADD_FAILURE() << "local HTTP server could not bind 127.0.0.1";
        return;
    }
    worker = std::thread([this] { server->listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + kReadyDeadline;
    while (!server->is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!server->is_running()) {
        ADD_FAILURE() << "local HTTP server did not start in time";
        return;
    }
    base = "http://127.0.0.1:" + std::to_string(listeningPort);
}

LocalHttpServer::~LocalHttpServer() { stop(); }

void LocalHttpServer::stop() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    server->stop();
    if (worker.joinable()) {
        if (listeningPort > 0) shutDownConnections(listeningPort);
        worker.join();
    }
}

void LocalHttpServer::answer(const std::string& method, const std::string& path, int status,
                             const std::string& body, const std::string& contentType) {
    CannedResponse canned;
    canned.status = status;
    canned.body = body;
    canned.contentType = contentType;
    handle(method, path, [canned](const RecordedRequest&) { return canned; });
}

void LocalHttpServer::handle(const std::string& method, const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> guard(lock);
    routes[{method, path}] = std::move(handler);
}

CannedResponse LocalHttpServer::dispatch(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto route = routes.find({request.method, request.path});
        if (route == routes.end()) {
            CannedResponse missing;
            missing.status = 404;
            return missing;
        }
        handler = route->second;
    }
    // Run outside the lock: a slow handler must not block recording.
    return handler(request);
}

std::vector<RecordedRequest> LocalHttpServer::requests() const {
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

std::size_t LocalHttpServer::requestCount() const {
    std::lock_guard<std::mutex> guard(lock);
    return received.size();
}

RecordedRequest LocalHttpServer::lastRequest() const {
    std::lock_guard<std::mutex> guard(lock);
    return received.empty() ? RecordedRequest() : received.back();
}

std::size_t LocalHttpServer::connectionCount() const {
    std::lock_guard<std::mutex> guard(lock);
    std::set<int> ports;
    for (const auto& request : received) {
        ports.insert(request.remotePort);
    }
    return ports.size();
}

void LocalHttpServer::clearRequests() {
    std::lock_guard<std::mutex> guard(lock);
    received.clear();
}

bool LocalHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds deadline) const {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, deadline, [&] { return received.size() >= count; });
}

bool LocalHttpServer::sleepUnlessStopped(std::chrono::milliseconds duration) const {
    std::unique_lock<std::mutex> guard(lock);
    return !changed.wait_for(guard, duration, [&] { return stopping; });
}

}  // namespace tarvik::testing
