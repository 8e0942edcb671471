#include "tests/support/FastAgiClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tests/support/ScriptedAsteriskPeer.h"

namespace tarvik::testing {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point limit) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left, 500)));
}

}  // namespace

FastAgiClient::FastAgiClient(std::uint16_t port) : port(port), startup(networkStartup("ivr-orvel", {})) {}

FastAgiClient::Variables FastAgiClient::networkStartup(const std::string& script,
                                                       const std::vector<std::string>& arguments) {
    Variables variables = {{"agi_network", "yes"}, {"agi_network_script", script}};
    for (auto& variable : ScriptedAsteriskPeer::typicalStartup()) {
        if (variable.first == "agi_request") variable.second = "agi://127.0.0.1:4573/" + script;
        variables.push_back(variable);
    }
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        variables.emplace_back("agi_arg_" + std::to_string(index + 1), arguments[index]);
    }
    return variables;
}

void FastAgiClient::setArguments(const std::vector<std::string>& arguments) {
    Variables kept;
    for (const auto& variable : startup) {
        if (variable.first.compare(0, 8, "agi_arg_") != 0) kept.push_back(variable);
    }
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        kept.emplace_back("agi_arg_" + std::to_string(index + 1), arguments[index]);
    }
    startup = kept;
}

void FastAgiClient::setStartupVariable(const std::string& key, const std::string& value) {
    for (auto& variable : startup) {
        if (variable.first == key) {
            variable.second = value;
            return;
        }
    }
    startup.emplace_back(key, value);
}

void FastAgiClient::setStartupRaw(const std::string& bytes) {
    rawStartup = bytes;
    useRaw = true;
}

std::string FastAgiClient::startupBytes() const {
    if (useRaw) return rawStartup;
    std::string bytes;
    for (const auto& variable : startup) bytes += variable.first + ": " + variable.second + "\n";
    return bytes + "\n";
}

std::string FastAgiClient::reply(const std::string& command, std::size_t number) const {
    if (hangupAt != 0 && number == hangupAt) return "200 result=-1\nHANGUP\n";
    if (hangupAt != 0 && number > hangupAt && ScriptedAsteriskPeer::needsLiveChannel(command)) {
        return ScriptedAsteriskPeer::kDeadChannelReply + "\n";
    }
    std::string text = script ? script(command) : ScriptedAsteriskPeer::defaultReply(command);
    if (text.empty() || text.back() != '\n') text += '\n';
    return text;
}

int FastAgiClient::connectTo(std::uint16_t port, std::chrono::milliseconds limit) {
    int socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socketFd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        pollfd watched{socketFd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof(error);
        if (errno != EINPROGRESS || ::poll(&watched, 1, static_cast<int>(limit.count())) != 1 ||
            getsockopt(socketFd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            ::close(socketFd);
            return -1;
        }
    }
    return socketFd;
}

FastAgiClient::Result FastAgiClient::run() {
    Result result;
    Clock::time_point limit = Clock::now() + deadline;
    int socketFd = connectTo(port, deadline);
    if (socketFd < 0) {
        result.failure = std::string("cannot connect: ") + std::strerror(errno);
        return result;
    }
    result.connected = true;
    std::string pending = startupBytes();
    std::string received;
    for (;;) {
        if (Clock::now() >= limit) {
            result.timedOut = true;
            result.failure = "the call did not end before the deadline";
            break;
        }
        pollfd watched{socketFd, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        int ready = ::poll(&watched, 1, millisecondsUntil(limit));
        if (ready < 0 && errno != EINTR) {
            result.failure = std::string("poll: ") + std::strerror(errno);
            break;
        }
        if (ready <= 0) continue;
        if ((watched.revents & POLLOUT) != 0) {
            ssize_t written = ::send(socketFd, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (written > 0) pending.erase(0, static_cast<std::size_t>(written));
            // A write refused because the service closed: the read says so.
        }
        if ((watched.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char chunk[4096];
        ssize_t got = ::recv(socketFd, chunk, sizeof(chunk), 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            result.closedByService = true;  // end of input or a reset
            break;
        }
        received.append(chunk, static_cast<std::size_t>(got));
        std::size_t feed;
        while ((feed = received.find('\n')) != std::string::npos) {
            std::string command = received.substr(0, feed);
            received.erase(0, feed + 1);
            result.commands.push_back(command);
            pending += reply(command, result.commands.size());
        }
    }
    ::close(socketFd);
    return result;
}

}  // namespace tarvik::testing
