#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fastagi/FastAgiNetwork.h"

namespace tarvik {

// A small HTTP/1.x endpoint for /metrics and /health, run inside the
// service's single-threaded wait loop: every socket is non-blocking, each
// connection gets one answer and is closed, a connection that does not send
// its request head (at most 8 KiB) within 2 s is dropped, and beyond 64
// open connections new ones are closed at once. No peer gets more than 8 of
// them, so one peer holding connections open cannot starve a health check
// from another; peers outside the allow list are closed at once. Nothing it
// does can hold up the calls.
class MetricsEndpoint {
public:
    struct Answer {
        int status = 200;
        std::string contentType = "text/plain; charset=utf-8";
        std::string body;
    };
    // Given the request path ("/metrics"), the answer; only GET and HEAD come here.
    using Responder = std::function<Answer(const std::string& path)>;

    // `allowed` empty: any peer.
    explicit MetricsEndpoint(Responder responder, std::vector<FastAgiNetwork> allowed = {});
    ~MetricsEndpoint();

    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    // Listens on ADDRESS:PORT (numeric address); false with errno set.
    bool open(const std::string& address, std::uint16_t port);
    bool isOpen() const { return listener >= 0; }
    // "127.0.0.1:9100" once open.
    const std::string& boundAddress() const { return bound; }

    // The descriptors to wait on, appended to `set`.
    void addTo(std::vector<pollfd>& set) const;
    // Acts on the results of the wait for the descriptors addTo appended
    // starting at `first`, and drops connections past their deadline.
    void handle(const std::vector<pollfd>& set, std::size_t first);
    // How long the wait may last at most (-1: no limit), so deadlines are kept.
    int waitLimitMs() const;

private:
    struct Connection {
        int fd = -1;
        std::string received;
        std::string answer;
        std::size_t written = 0;
        bool answered = false;  // written and shut down; reading what is left until the peer closes
        std::chrono::steady_clock::time_point deadline;
        std::string peerHost;  // the peer's address bytes, without the port
    };

    void acceptAll();
    // False when the peer is not allowed or already holds its share.
    bool admits(const sockaddr_storage& peer, const std::string& host) const;
    // What one recv brought; 0 when nothing yet, or when the peer closed
    // (the connection is then closed too: fd -1).
    std::size_t receiveSome(Connection& connection, char* buffer, std::size_t size);
    void readFrom(Connection& connection);
    void writeTo(Connection& connection);
    void discardFrom(Connection& connection);
    std::string respond(const std::string& head) const;

    Responder responder;
    std::vector<FastAgiNetwork> allowed;
    int listener = -1;
    std::string bound;
    std::vector<Connection> connections;
};

}  // namespace tarvik
