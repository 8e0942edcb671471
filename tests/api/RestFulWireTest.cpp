#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/KestroAgiRESTFul.h"

namespace tarvik {
namespace {

// Takes one request off a raw socket and keeps its bytes as they came, so
// the order of header lines on the wire can be checked. Bounded: gives up
// after a few seconds.
class RawHttpCapture {
public:
    RawHttpCapture() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 4) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "raw capture could not listen";
            return;
        }
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/raw";
        received = std::async(std::launch::async, [this] { return serveOne(); });
    }
    ~RawHttpCapture() {
        if (received.valid()) {
            received.wait();
        }
        close(listener);
    }

    std::string url;
    std::future<std::string> received;

private:
    std::string serveOne() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        auto left = [&] {
            return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        };
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, left()) <= 0) {
            return "";
        }
        const int connection = accept(listener, nullptr, nullptr);
        std::string bytes;
        char chunk[4096];
        while (bytes.find("\r\n\r\n") == std::string::npos && left() > 0) {
            pollfd readable{connection, POLLIN, 0};
            if (poll(&readable, 1, left()) <= 0) {
                break;
            }
            const ssize_t got = read(connection, chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            bytes.append(chunk, static_cast<size_t>(got));
        }
        const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        (void)!write(connection, answer, sizeof answer - 1);
        close(connection);
        return bytes;
    }

    int listener = -1;
};

std::vector<std::string> headerLines(const std::string& raw) {
    std::vector<std::string> lines;
    std::istringstream stream(raw.substr(0, raw.find("\r\n\r\n")));
    std::string line;
    std::getline(stream, line);  // request line
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(RestFulWireTest, HeadersGoOutInByteOrderOfNamesWithoutLineBreaks) {
    RawHttpCapture capture;
    ASSERT_FALSE(capture.url.empty());
    KestroAgiRESTFul request;
    request.setUrl(capture.url.c_str());
    request.setHeader("x-b", "2");
    request.setHeader("X-a", "1");
    request.setHeader("a-x", "3");
    request.setHeader("B-y", "4");
    request.setHeader("x-b", "ignored");
    request.setHeader("X-Inject", "v\r\nEvil: 1\n");
    request.setHeader("X-Spl\r\nit", "n");
    std::unique_ptr<KestroAgiDataSourceResult> result(request.execute());
    ASSERT_NE(nullptr, result);
    EXPECT_STREQ("ok", result->getText());

    ASSERT_EQ(std::future_status::ready, capture.received.wait_for(std::chrono::seconds(6)));
    const std::vector<std::string> lines = headerLines(capture.received.get());
    std::vector<std::string> ours;
    for (const std::string& line : lines) {
        if (line.rfind("Host:", 0) != 0 && line.rfind("Accept:", 0) != 0) {
            ours.push_back(line);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"B-y: 4", "X-Inject: vEvil: 1", "X-Split: n", "X-a: 1", "a-x: 3", "x-b: 2"}),
              ours);
}

}  // namespace
}  // namespace tarvik
