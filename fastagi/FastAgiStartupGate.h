#pragma once

#include <chrono>
#include <cstddef>

namespace tarvik {

// Checks, before the session reads it, that the peer sends a whole AGI
// start-up block (ended by an empty line) within a deadline and a size
// limit. It only peeks at the socket: the block stays there for the
// session to read as usual.
class FastAgiStartupGate {
public:
    // `probe`: closed before sending a byte, as a load balancer's health
    // check does; not worth a log line.
    enum class Verdict { ready, timedOut, tooLong, closed, probe };

    FastAgiStartupGate(std::chrono::milliseconds timeout, std::size_t maxBytes);

    Verdict wait(int socketFd) const;

    static const char* describe(Verdict verdict);

private:
    std::chrono::milliseconds timeout;
    std::size_t maxBytes;
};

}  // namespace tarvik
