#include "tests/support/RefusingPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tarvik::testing {

RefusingPort::RefusingPort() : socketFd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socketFd < 0 || ::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "could not reserve a local port";
        return;
    }
    portNumber = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
    if (socketFd >= 0) ::close(socketFd);
}

}  // namespace tarvik::testing
