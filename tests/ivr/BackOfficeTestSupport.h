#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "configuration/Configuration.h"
#include "agi/RecordingSession.h"
#include "tests/support/RefusingPort.h"

namespace tarvik::testing {

// The module's view as the client reads it, with plain fields a test edits.
class TestConfiguration : public Configuration {
public:
    std::string saveIdentification = "/ivr/identification";
    std::string byDocument = "/ivr/client/document/";
    std::string byPhone = "/ivr/client/phone/";
    std::string sendProtocol = "/ivr/protocol";
    std::string unlockPath = "/ivr/unlock";
    std::string invoiceSend = "/ivr/invoice/send";
    std::string externalProtocol = "/ivr/protocol/external";
    std::string baseUri;
    std::string accessToken = "tok-1";
    std::string callerId = "11987654321";
    std::string protocol = "1700000000.42";
    std::string channel = "PJSIP/trunk-00000001";
    std::string moduleName = "OrvelV3";
    std::string pluginId = "plugin-7";
    std::string pluginDriver = "orvel";
    std::map<std::string, std::string> marks;

    explicit TestConfiguration(std::string base) : baseUri(std::move(base)) {}

    const std::string& getEndpointSaveIdentification() const override { return saveIdentification; }
    const std::string& getEndpointFindClientByDocument() const override { return byDocument; }
    const std::string& getEndpointFindClientByPhone() const override { return byPhone; }
    const std::string& getEndpointSendProtocol() const override { return sendProtocol; }
    const std::string& getEndpointFindClientUnlock() const override { return unlockPath; }
    const std::string& getEndpointFindInvoiceSend() const override { return invoiceSend; }
    const std::string& getEndpointExternalProtocol() const override { return externalProtocol; }
    const std::string& getBaseUri() const override { return baseUri; }
    const std::string& getAccessToken() const override { return accessToken; }
    const char* getMark(std::string key) override {
        auto found = marks.find(key);
        return found == marks.end() ? nullptr : found->second.c_str();
    }
    const std::string& getCallerId() const override { return callerId; }
    const std::string& getProtocol() const override { return protocol; }
    const std::string& getChannel() const override { return channel; }
    const std::string& getModuleName() const override { return moduleName; }
    const std::string& getPluginId() const override { return pluginId; }
    const std::string& getPluginDriver() const override { return pluginDriver; }
};

// The names of the recorded header pairs, in the order given.
inline std::vector<std::string> headerNames(const std::vector<std::pair<std::string, std::string>>& headers) {
    std::vector<std::string> names;
    for (const auto& header : headers) names.push_back(header.first);
    return names;
}

// Accepts one connection and records the request head byte for byte (the
// recording server of the support library reports headers in its own
// order, not in the order they came on the wire), then answers 200 with the
// given body and closes. Every wait is bounded.
class RawOneShotServer {
public:
    explicit RawOneShotServer(std::string answerBody) : body(std::move(answerBody)) {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listenFd, 1) != 0 ||
            ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "raw server could not listen";
            return;
        }
        base = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        worker = std::thread([this] { serve(); });
    }
    ~RawOneShotServer() {
        if (worker.joinable()) worker.join();
        if (listenFd >= 0) ::close(listenFd);
    }
    RawOneShotServer(const RawOneShotServer&) = delete;
    RawOneShotServer& operator=(const RawOneShotServer&) = delete;

    const std::string& baseUrl() const { return base; }

    // The request head (request line and header lines), after the exchange.
    std::string head() {
        if (worker.joinable()) worker.join();
        return received.substr(0, received.find("\r\n\r\n"));
    }

    // Header names of the head, in wire order.
    std::vector<std::string> headerNamesOnWire() {
        std::vector<std::string> names;
        const std::string text = head();
        std::size_t start = text.find("\r\n");
        while (start != std::string::npos) {
            start += 2;
            const std::size_t end = text.find("\r\n", start);
            const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            names.push_back(line.substr(0, line.find(':')));
            start = end;
        }
        return names;
    }

private:
    static bool readable(int fd) {
        pollfd waiting{fd, POLLIN, 0};
        return ::poll(&waiting, 1, 5000) == 1;
    }

    void serve() {
        if (!readable(listenFd)) return;
        const int connection = ::accept(listenFd, nullptr, nullptr);
        if (connection < 0) return;
        char buffer[4096];
        std::size_t expected = std::string::npos;
        while (expected == std::string::npos || received.size() < expected) {
            if (!readable(connection)) break;
            const ssize_t count = ::read(connection, buffer, sizeof buffer);
            if (count <= 0) break;
            received.append(buffer, static_cast<std::size_t>(count));
            const std::size_t headEnd = received.find("\r\n\r\n");
            if (expected == std::string::npos && headEnd != std::string::npos) {
                std::size_t contentLength = 0;
                const std::size_t field = received.find("Content-Length: ");
                if (field != std::string::npos && field < headEnd) contentLength = std::stoul(received.substr(field + 16));
                expected = headEnd + 4 + contentLength;
            }
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                   std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        [[maybe_unused]] const ssize_t written = ::write(connection, answer.data(), answer.size());
        ::close(connection);
    }

    int listenFd = -1;
    std::string base;
    std::string body;
    std::string received;
    std::thread worker;
};

}  // namespace tarvik::testing
