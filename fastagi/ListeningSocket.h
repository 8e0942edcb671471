#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace tarvik {

// The listening sockets of the service and of its metrics endpoint: parse,
// bind and listen in one place, and the "ADDRESS:PORT" texts of the log.
class ListeningSocket {
public:
    // Listens on ADDRESS:PORT (numeric address; port 0 takes a free one),
    // non-blocking and close-on-exec: the descriptor, or -1 with errno set
    // (EINVAL when the address is not one).
    static int open(const std::string& address, std::uint16_t port);
    // "192.0.2.7:4573" or "[::1]:4573".
    static std::string describe(const sockaddr_storage& address);
    // Where `fd` listens, described.
    static std::string boundAddress(int fd);
};

}  // namespace tarvik
