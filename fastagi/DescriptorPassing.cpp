#include "fastagi/DescriptorPassing.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvik {

namespace {
constexpr std::size_t kMaxText = 256;
}  // namespace

bool DescriptorPassing::send(int channel, int fd, const std::string& text) {
    std::string payload = text.substr(0, kMaxText);
    if (payload.empty()) payload = "-";  // a message must carry a byte
    iovec part{payload.data(), payload.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    ssize_t sent;
    do {
        sent = ::sendmsg(channel, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(payload.size());
}

int DescriptorPassing::receive(int channel, std::string& text) {
    char buffer[kMaxText];
    iovec part{buffer, sizeof(buffer)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t got;
    do {
        got = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return -1;
    text.assign(buffer, static_cast<std::size_t>(got));
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
            return fd;
        }
    }
    return -1;
}

}  // namespace tarvik
