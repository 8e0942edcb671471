#include "fastagi/CallReports.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tarvik {

namespace {
constexpr std::size_t kMaxReport = 512;
}  // namespace

CallReports::CallReports() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0) {
        receiving = pair[0];
        sending = pair[1];
        // Room for bursts of many calls' reports between two service wakeups.
        int size = 1 << 20;
        ::setsockopt(receiving, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
}

CallReports::~CallReports() {
    if (receiving >= 0) ::close(receiving);
    if (sending >= 0) ::close(sending);
}

void CallReports::becomeSender() {
    if (receiving >= 0) ::close(receiving);
    receiving = -1;
}

void CallReports::send(const std::string& report) const {
    if (sending < 0 || report.empty()) return;
    ssize_t sent;
    do {
        sent = ::send(sending, report.data(), report.size() < kMaxReport ? report.size() : kMaxReport, MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
}

void CallReports::receiveAll(const std::function<void(const std::string&)>& take) const {
    if (receiving < 0) return;
    char buffer[kMaxReport];
    for (;;) {
        ssize_t got = ::recv(receiving, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        take(std::string(buffer, static_cast<std::size_t>(got)));
    }
}

}  // namespace tarvik
