#pragma once

namespace tarvik {

// A loopback port that refuses every connection: a socket bound to it and
// never listening, so no other program can take the port meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    // The port, or 0 when no socket could be bound.
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace tarvik
