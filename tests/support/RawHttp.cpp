#include "tests/support/RawHttp.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/Deadline.h"
#include "tests/support/FastAgiClient.h"

namespace tarvik::testing {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

std::string rawHttpExchange(std::uint16_t port, const std::string& bytes, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    int socketFd = FastAgiClient::connectTo(port, limit);
    if (socketFd < 0) return "";
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd writable{socketFd, POLLOUT, 0};
        if (::poll(&writable, 1, millisLeft(deadline)) != 1) break;
        ssize_t count = ::send(socketFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<std::size_t>(count);
    }
    std::string answer;
    char chunk[4096];
    for (;;) {
        pollfd readable{socketFd, POLLIN, 0};
        if (::poll(&readable, 1, millisLeft(deadline)) != 1) break;
        ssize_t count = ::recv(socketFd, chunk, sizeof(chunk), 0);
        if (count <= 0) break;
        answer.append(chunk, static_cast<std::size_t>(count));
    }
    ::close(socketFd);
    return answer;
}

HttpAnswer httpGet(std::uint16_t port, const std::string& path) {
    const std::string text =
        rawHttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    HttpAnswer answer;
    if (text.compare(0, 9, "HTTP/1.1 ") != 0 && text.compare(0, 9, "HTTP/1.0 ") != 0) return answer;
    answer.status = std::atoi(text.c_str() + 9);
    std::size_t body = text.find("\r\n\r\n");
    if (body != std::string::npos) answer.body = text.substr(body + 4);
    return answer;
}

}  // namespace tarvik::testing
