#include "tools/backoffice-sim/SimServer.h"

#include "tools/backoffice-sim/ConnectionDropper.h"
#include "tools/backoffice-sim/CountingTaskQueue.h"

#include <sys/socket.h>

#include <chrono>
#include <ctime>
#include <utility>

namespace tarvik {

namespace {

const char kHost[] = "127.0.0.1";
const char kStatsPath[] = "/_sim/stats";
// Requests are small; this bounds what a misbehaving client can make us hold.
const std::size_t kMaxPayload = 16 * 1024 * 1024;
// Enough persistent requests per connection for any benchmark.
const std::size_t kKeepAliveMaxCount = 100000;
const int kListenBacklog = 1024;

std::string contentTypeOf(const std::string& file) {
    auto endsWith = [&file](const std::string& ending) {
        return file.size() >= ending.size() && file.compare(file.size() - ending.size(), ending.size(), ending) == 0;
    };
    if (endsWith(".json")) {
        return "application/json";
    }
    if (endsWith(".html") || endsWith(".htm")) {
        return "text/html";
    }
    if (endsWith(".txt")) {
        return "text/plain";
    }
    return "application/octet-stream";
}

std::string utcTimestamp() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32] = {0};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string stamp = text;
    std::string fraction = std::to_string(millis);
    return stamp + "." + std::string(3 - fraction.size(), '0') + fraction + "Z";
}

// Names httplib adds to the request's headers itself; the client never sent them.
bool isServerPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

}  // namespace

SimServer::SimServer(const SimOptions& options, BackOffice& backOffice, RequestJournal& journal,
                     std::map<SimOperation, std::string> bodies)
    : options_(options), backOffice_(backOffice), journal_(journal), bodies_(std::move(bodies)) {
    if (options_.tlsCert.empty()) {
        server_ = std::make_unique<httplib::Server>();
    } else {
        server_ = std::make_unique<httplib::SSLServer>(options_.tlsCert.c_str(), options_.tlsKey.c_str());
    }
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response);
    };
    // Every path, also one whose decoded form holds a line break ("." would
    // not match it, and such a request would be answered without a journal line).
    const char* const anyPath = "[\\s\\S]*";
    server_->Get(anyPath, handler);
    server_->Post(anyPath, handler);
    server_->Put(anyPath, handler);
    server_->Delete(anyPath, handler);
    server_->Patch(anyPath, handler);
    server_->Options(anyPath, handler);
    server_->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.set_content("{\"error\":\"internal error\"}", "application/json");
    });
    server_->set_socket_options([this](int socket) {
        int on = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        listeningSocket_ = socket;
    });
    server_->set_tcp_nodelay(true);  // answers go out at once: no Nagle/delayed-ACK stall
    server_->set_keep_alive_max_count(kKeepAliveMaxCount);
    server_->set_keep_alive_timeout(options_.keepAliveSeconds);
    server_->set_read_timeout(5, 0);
    server_->set_write_timeout(5, 0);
    server_->set_payload_max_length(kMaxPayload);
    server_->new_task_queue = [this]() {
        return new CountingTaskQueue(static_cast<std::size_t>(options_.threads), connections_);
    };
}

int SimServer::bind(int port) {
    int bound = -1;
    if (port == 0) {
        bound = server_->bind_to_any_port(kHost);
    } else if (server_->bind_to_port(kHost, port)) {
        bound = port;
    }
    if (bound > 0 && listeningSocket_ >= 0) {
        // The library listens with a tiny backlog; bursts of hundreds of
        // callers must queue, not be refused.
        ::listen(listeningSocket_, kListenBacklog);
    }
    return bound > 0 ? bound : -1;
}

bool SimServer::run() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        if (stopping_) {
            return true;
        }
    }
    return server_->listen_after_bind();
}

void SimServer::stop() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    server_->stop();
}

void SimServer::handle(const httplib::Request& request, httplib::Response& response) {
    std::string path = request.target.substr(0, request.target.find('?'));
    if (path == kStatsPath && request.method == "GET") {
        Json::Value stats(Json::objectValue);
        stats["connections"] = static_cast<Json::UInt64>(connections_.load());
        stats["requests"] = static_cast<Json::UInt64>(requests_.load());
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        response.set_content(Json::writeString(builder, stats), "application/json");
        return;
    }
    unsigned long number = ++requests_;
    SimRoute route = SimRouter::route(request.method, request.target);
    Json::Value line = journalLine(request, route.operation);
    line["request"] = static_cast<Json::UInt64>(number);

    if (options_.drops.count(route.operation) != 0) {
        line["dropped"] = true;
        journal_.write(line);
        waitDelay(route.operation);
        ConnectionDropper::drop(request);
        response.status = 500;
        response.set_header("Connection", "close");
        return;
    }

    SimAnswer answer;
    if (!authorized(request)) {
        answer.status = 401;
        answer.body = "{\"error\":\"unauthorized\"}";
    } else {
        answer = backOffice_.answer(route, request.body);
        applyFaults(route.operation, answer);
    }
    line["status"] = answer.status;
    journal_.write(line);
    waitDelay(route.operation);
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType);
}

bool SimServer::authorized(const httplib::Request& request) const {
    if (options_.token.empty()) {
        return true;
    }
    return request.get_header_value_count("PreAuthorization") == 1 &&
           request.get_header_value("PreAuthorization") == "Bearer " + options_.token;
}

void SimServer::applyFaults(SimOperation operation, SimAnswer& answer) const {
    auto status = options_.statusOverrides.find(operation);
    if (status != options_.statusOverrides.end()) {
        answer.status = status->second;
    }
    auto body = bodies_.find(operation);
    if (body != bodies_.end()) {
        answer.body = body->second;
        answer.contentType = contentTypeOf(options_.bodyFiles.at(operation));
    }
}

void SimServer::waitDelay(SimOperation operation) {
    auto own = options_.operationDelays.find(operation);
    const int delayMs = own != options_.operationDelays.end() ? own->second : options_.delayMs;
    if (delayMs <= 0) {
        return;
    }
    std::unique_lock<std::mutex> lock(stopMutex_);
    stopSignal_.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return stopping_; });
}

Json::Value SimServer::journalLine(const httplib::Request& request, SimOperation operation) const {
    Json::Value line(Json::objectValue);
    line["time"] = utcTimestamp();
    line["connection"] = static_cast<Json::UInt64>(CountingTaskQueue::currentConnection());
    line["operation"] = simOperationName(operation);
    line["method"] = request.method;
    line["path"] = request.target;
    Json::Value headers(Json::objectValue);
    for (const auto& header : request.headers) {
        if (isServerPseudoHeader(header.first)) {
            continue;
        }
        Json::Value& value = headers[header.first];
        value = value.isString() ? Json::Value(value.asString() + ", " + header.second) : Json::Value(header.second);
    }
    line["headers"] = headers;
    line["body"] = request.body;
    return line;
}

}  // namespace tarvik
