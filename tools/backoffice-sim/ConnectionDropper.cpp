#include "tools/backoffice-sim/ConnectionDropper.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <string>

namespace tarvik {

namespace {

bool sameEndpoint(const sockaddr_storage& address, const std::string& host, int port) {
    char text[INET6_ADDRSTRLEN] = {0};
    int actualPort = -1;
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        actualPort = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        actualPort = ntohs(v6->sin6_port);
    } else {
        return false;
    }
    return actualPort == port && host == text;
}

bool isConnectionOf(int fd, const httplib::Request& request) {
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return false;  // not a connected socket (or not a socket at all)
    }
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) {
        return false;
    }
    return sameEndpoint(peer, request.remote_addr, request.remote_port) &&
           sameEndpoint(local, request.local_addr, request.local_port);
}

}  // namespace

bool ConnectionDropper::drop(const httplib::Request& request) {
    // The connection's descriptor stays open while its request is handled on
    // this thread, so the match cannot be a reused descriptor.
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) {
        return false;
    }
    bool dropped = false;
    while (dirent* entry = readdir(descriptors)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(descriptors)) {
            continue;
        }
        if (isConnectionOf(static_cast<int>(fd), request)) {
            dropped = shutdown(static_cast<int>(fd), SHUT_RDWR) == 0;
            break;
        }
    }
    closedir(descriptors);
    return dropped;
}

}  // namespace tarvik
