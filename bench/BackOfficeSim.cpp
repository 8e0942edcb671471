#include "bench/BackOfficeSim.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <json/json.h>

namespace tarvik {

namespace {

const int kStartupTimeoutMs = 10000;
const int kStatsTimeoutMs = 5000;
const int kStopTimeoutMs = 5000;

// Waits for fd to be readable or writable within the time left; false on timeout.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point until) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd item{fd, events, 0};
    return ::poll(&item, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

BackOfficeSim::~BackOfficeSim() { stop(); }

bool BackOfficeSim::start(const std::string& program, const std::vector<std::string>& options, int errorFd,
                          std::string& error) {
    std::vector<std::string> argv{program, "--port", "0"};
    argv.insert(argv.end(), options.begin(), options.end());
    if (!process_.start(argv, errorFd, error)) {
        return false;
    }
    process_.closeInput();
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartupTimeoutMs);
    std::string line;
    while (line.find('\n') == std::string::npos) {
        if (!waitFor(process_.outputFd(), POLLIN, until)) {
            error = "the back-office simulator did not say where it listens";
            return false;
        }
        char buffer[256];
        ssize_t count = ::read(process_.outputFd(), buffer, sizeof buffer);
        if (count == 0) {
            error = "the back-office simulator ended at start-up (see its standard error)";
            return false;
        }
        if (count > 0) {
            line.append(buffer, static_cast<std::size_t>(count));
        }
    }
    const std::string prefix = "listening on 127.0.0.1:";
    if (line.compare(0, prefix.size(), prefix) != 0) {
        error = "unexpected first line from the simulator: " + line.substr(0, line.find('\n'));
        return false;
    }
    port_ = std::atoi(line.c_str() + prefix.size());
    return port_ > 0;
}

bool BackOfficeSim::stats(SimStats& stats, std::string& error) const {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStatsTimeoutMs);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    bool ok = false;
    do {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
            break;
        }
        if (!waitFor(fd, POLLOUT, until)) {
            break;
        }
        const std::string request = "GET /_sim/stats HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            break;
        }
        for (;;) {
            if (!waitFor(fd, POLLIN, until)) {
                break;
            }
            char buffer[1024];
            ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count <= 0) {
                ok = count == 0;
                break;
            }
            answer.append(buffer, static_cast<std::size_t>(count));
        }
    } while (false);
    ::close(fd);
    if (!ok) {
        error = "no answer from GET /_sim/stats";
        return false;
    }
    std::size_t bodyStart = answer.find("\r\n\r\n");
    Json::Value body;
    Json::CharReaderBuilder builder;
    std::string parseError;
    std::string text = bodyStart == std::string::npos ? std::string() : answer.substr(bodyStart + 4);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &body, &parseError) || !body.isObject() ||
        !body["connections"].isUInt64() || !body["requests"].isUInt64()) {
        error = "unexpected answer from GET /_sim/stats: " + text;
        return false;
    }
    stats.connections = body["connections"].asUInt64();
    stats.requests = body["requests"].asUInt64();
    return true;
}

void BackOfficeSim::stop() {
    if (!process_.running()) {
        return;
    }
    ::kill(process_.pid(), SIGTERM);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
    int status = 0;
    struct rusage usage {};
    while (std::chrono::steady_clock::now() < until) {
        if (process_.reap(status, usage)) {
            auto toMs = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
            cpuMs_ = toMs(usage.ru_utime) + toMs(usage.ru_stime);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    process_.kill();
}

}  // namespace tarvik
