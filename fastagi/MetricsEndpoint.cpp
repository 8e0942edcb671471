#include "fastagi/MetricsEndpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fastagi/ListeningSocket.h"
#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHead = 8 * 1024;
constexpr std::size_t kMaxConnections = 64;
constexpr std::size_t kMaxConnectionsPerPeer = 8;
constexpr std::chrono::milliseconds kDeadline{2000};

const char* reasonOf(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

std::string frame(const MetricsEndpoint::Answer& answer, bool withBody) {
    std::string text = formatBounded(
        "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nCache-Control: no-store\r\nConnection: "
        "close\r\n\r\n",
        answer.status, reasonOf(answer.status), answer.contentType.c_str(), answer.body.size());
    if (withBody) text += answer.body;
    return text;
}

std::string hostOf(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET) {
        const auto& address = reinterpret_cast<const sockaddr_in*>(&peer)->sin_addr;
        return std::string(reinterpret_cast<const char*>(&address), sizeof(address));
    }
    const auto& address = reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_addr;
    return std::string(reinterpret_cast<const char*>(&address), sizeof(address));
}

MetricsEndpoint::Answer plain(int status, const char* body) {
    MetricsEndpoint::Answer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(Responder responder, std::vector<FastAgiNetwork> allowed)
    : responder(std::move(responder)), allowed(std::move(allowed)) {}

MetricsEndpoint::~MetricsEndpoint() {
    for (Connection& connection : connections) ::close(connection.fd);
    if (listener >= 0) ::close(listener);
}

bool MetricsEndpoint::open(const std::string& address, std::uint16_t port) {
    listener = ListeningSocket::open(address, port);
    if (listener < 0) return false;
    bound = ListeningSocket::boundAddress(listener);
    return true;
}

void MetricsEndpoint::addTo(std::vector<pollfd>& set) const {
    if (listener < 0) return;
    set.push_back(pollfd{listener, POLLIN, 0});
    for (const Connection& connection : connections) {
        const bool reading = connection.answer.empty() || connection.answered;
        set.push_back(pollfd{connection.fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0});
    }
}

void MetricsEndpoint::handle(const std::vector<pollfd>& set, std::size_t first) {
    if (listener < 0) return;
    // The set was built from the connections as they were; act on those
    // first, then accept new ones.
    for (std::size_t index = 0; index < connections.size() && first + 1 + index < set.size(); ++index) {
        const pollfd& result = set[first + 1 + index];
        if (result.revents == 0) continue;
        if (connections[index].answered) {
            discardFrom(connections[index]);
        } else if (connections[index].answer.empty()) {
            readFrom(connections[index]);
        } else {
            writeTo(connections[index]);
        }
    }
    const Clock::time_point now = Clock::now();
    connections.erase(std::remove_if(connections.begin(), connections.end(),
                                     [now](Connection& connection) {
                                         bool finished = connection.fd < 0 || now >= connection.deadline;
                                         if (finished && connection.fd >= 0) ::close(connection.fd);
                                         return finished;
                                     }),
                      connections.end());
    if (first < set.size() && (set[first].revents & POLLIN) != 0) acceptAll();
}

int MetricsEndpoint::waitLimitMs() const {
    if (connections.empty()) return -1;
    Clock::time_point nearest = connections.front().deadline;
    for (const Connection& connection : connections) nearest = std::min(nearest, connection.deadline);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nearest - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) + 1 : 0;
}

void MetricsEndpoint::acceptAll() {
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof(peer);
        int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        const std::string host = hostOf(peer);
        if (!admits(peer, host)) {
            ::close(fd);  // a scraper or checker comes back; the calls must not wait
            continue;
        }
        Connection connection;
        connection.fd = fd;
        connection.deadline = Clock::now() + kDeadline;
        connection.peerHost = host;
        connections.push_back(std::move(connection));
    }
}

bool MetricsEndpoint::admits(const sockaddr_storage& peer, const std::string& host) const {
    if (connections.size() >= kMaxConnections) return false;
    if (!FastAgiNetwork::admits(allowed, reinterpret_cast<const sockaddr*>(&peer))) return false;
    std::size_t held = 0;
    for (const Connection& connection : connections) held += connection.peerHost == host ? 1 : 0;
    return held < kMaxConnectionsPerPeer;
}

std::size_t MetricsEndpoint::receiveSome(Connection& connection, char* buffer, std::size_t size) {
    ssize_t got = ::recv(connection.fd, buffer, size, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (got <= 0) {
        ::close(connection.fd);
        connection.fd = -1;
        return 0;
    }
    return static_cast<std::size_t>(got);
}

void MetricsEndpoint::readFrom(Connection& connection) {
    char buffer[2048];
    std::size_t got = receiveSome(connection, buffer, sizeof(buffer));
    if (got == 0) return;
    connection.received.append(buffer, got);
    std::size_t end = connection.received.find("\r\n\r\n");
    if (end == std::string::npos) end = connection.received.find("\n\n");
    if (end == std::string::npos && connection.received.size() < kMaxHead) return;
    if (end == std::string::npos || end > kMaxHead) {
        connection.answer = frame(plain(400, "request head too large\n"), true);
    } else {
        connection.answer = respond(connection.received.substr(0, end));
    }
    writeTo(connection);
}

void MetricsEndpoint::writeTo(Connection& connection) {
    while (connection.written < connection.answer.size()) {
        ssize_t sent = ::send(connection.fd, connection.answer.data() + connection.written,
                              connection.answer.size() - connection.written, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno == EAGAIN) return;
        if (sent <= 0) {
            ::close(connection.fd);
            connection.fd = -1;
            return;
        }
        connection.written += static_cast<std::size_t>(sent);
    }
    // Closing with unread input would reset the connection and could lose
    // the answer: say we are done and let the peer close first (bounded).
    ::shutdown(connection.fd, SHUT_WR);
    connection.answered = true;
    connection.deadline = std::min(connection.deadline, Clock::now() + std::chrono::milliseconds(1000));
}

void MetricsEndpoint::discardFrom(Connection& connection) {
    char buffer[2048];
    receiveSome(connection, buffer, sizeof(buffer));
}

// "GET /metrics HTTP/1.1": anything else gets 400, 404 or 405.
std::string MetricsEndpoint::respond(const std::string& head) const {
    const std::string line = head.substr(0, head.find_first_of("\r\n"));
    std::size_t firstSpace = line.find(' ');
    std::size_t secondSpace = firstSpace == std::string::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || line.compare(secondSpace + 1, 7, "HTTP/1.") != 0 ||
        line.size() != secondSpace + 9) {
        return frame(plain(400, "bad request\n"), true);
    }
    const std::string method = line.substr(0, firstSpace);
    std::string path = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    for (char c : path) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            return frame(plain(400, "bad request\n"), true);
        }
    }
    path = path.substr(0, path.find('?'));
    if (method != "GET" && method != "HEAD") return frame(plain(405, "only GET and HEAD\n"), true);
    if (path != "/metrics" && path != "/health") return frame(plain(404, "not found\n"), method == "GET");
    return frame(responder(path), method == "GET");
}

}  // namespace tarvik
