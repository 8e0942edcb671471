#include "fastagi/ListeningSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>

#include "util/BoundedFormat.h"

namespace tarvik {

int ListeningSocket::open(const std::string& address, std::uint16_t port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
    } else {
        errno = EINVAL;
        return -1;
    }
    int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    // A full backlog drops a newcomer's handshake, which then waits a second
    // for its retry: a burst must not cost a health check that.
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        int saved = errno;
        if (fd >= 0) ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

std::string ListeningSocket::describe(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, host, sizeof(host));
        port = ntohs(v4->sin_port);
        return formatBounded("%s:%u", host, port);
    }
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof(host));
        port = ntohs(v6->sin6_port);
    }
    return formatBounded("[%s]:%u", host, port);
}

std::string ListeningSocket::boundAddress(int fd) {
    sockaddr_storage bound{};
    socklen_t length = sizeof(bound);
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return describe(bound);
}

}  // namespace tarvik
