#include "tools/backoffice-sim/SilentListener.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvik {

namespace {

const int kListenBacklog = 1024;
// Beyond this many held connections new ones wait in the listen queue,
// which to a client looks the same: connected, never answered.
const std::size_t kMaxHeld = 4096;

}  // namespace

SilentListener::~SilentListener() {
    for (int fd : held_) {
        ::close(fd);
    }
    if (listening_ >= 0) {
        ::close(listening_);
    }
}

int SilentListener::bind(int port) {
    listening_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening_ < 0) {
        return -1;
    }
    int on = 1;
    ::setsockopt(listening_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening_, kListenBacklog) != 0 ||
        ::getsockname(listening_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    return ntohs(address.sin_port);
}

bool SilentListener::run(const sigset_t& stopSignals) {
    int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        return false;
    }
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {listening_, POLLIN, 0}};
        nfds_t count = held_.size() < kMaxHeld ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (count == 2 && fds[1].revents != 0) {
            int connection = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) {
                held_.push_back(connection);
            }
        }
    }
    ::close(signals);
    return true;
}

}  // namespace tarvik
