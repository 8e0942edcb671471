#include "fastagi/CallReports.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvik {

namespace {
constexpr std::size_t kMaxReport = 512;
// A datagram of report lines: a call's twenty-odd reports fit in two.
constexpr std::size_t kMaxDatagram = 4096;
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

void CallReports::send(const std::string& report) {
    if (sending < 0 || report.empty()) return;
    const std::string line = report.substr(0, std::min(report.find('\n'), kMaxReport - 1)) + "\n";
    std::string full;
    {
        std::lock_guard<std::mutex> guard(keptMutex);
        if (kept.size() + line.size() > kMaxDatagram) full.swap(kept);
        kept += line;
    }
    sendDatagram(full);
}

void CallReports::flush() {
    std::string lines;
    {
        std::lock_guard<std::mutex> guard(keptMutex);
        lines.swap(kept);
    }
    sendDatagram(lines);
}

void CallReports::sendDatagram(const std::string& lines) const {
    if (sending < 0 || lines.empty()) return;
    ssize_t sent;
    do {
        sent = ::send(sending, lines.data(), lines.size(), MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
}

void CallReports::receiveAll(const std::function<void(const std::string&)>& take) const {
    if (receiving < 0) return;
    char buffer[kMaxDatagram];
    for (;;) {
        ssize_t got = ::recv(receiving, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        const char* line = buffer;
        const char* end = buffer + got;
        while (line < end) {
            const char* feed = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
            const char* stop = feed != nullptr ? feed : end;
            if (stop > line) take(std::string(line, stop));
            line = stop + 1;
        }
    }
}

}  // namespace tarvik
