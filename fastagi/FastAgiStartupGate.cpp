#include "fastagi/FastAgiStartupGate.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

// The block ends at its first empty line: a line feed at the very start or
// two in a row.
bool holdsWholeBlock(const char* data, std::size_t size, std::size_t limit) {
    std::size_t scan = size < limit ? size : limit;
    if (scan > 0 && data[0] == '\n') return true;
    for (std::size_t index = 1; index < scan; ++index) {
        if (data[index] == '\n' && data[index - 1] == '\n') return true;
    }
    return false;
}

void setLowWater(int socketFd, std::size_t bytes) {
    int value = static_cast<int>(bytes);
    setsockopt(socketFd, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof(value));
}

}  // namespace

FastAgiStartupGate::FastAgiStartupGate(std::chrono::milliseconds timeout, std::size_t maxBytes)
    : timeout(timeout), maxBytes(maxBytes) {}

const char* FastAgiStartupGate::describe(Verdict verdict) {
    switch (verdict) {
        case Verdict::ready: return "start-up block received";
        case Verdict::timedOut: return "no whole start-up block in time";
        case Verdict::tooLong: return "start-up block too long";
        case Verdict::closed: return "connection closed during the start-up block";
        case Verdict::probe: return "connection closed before the start-up block";
    }
    return "";
}

FastAgiStartupGate::Verdict FastAgiStartupGate::wait(int socketFd) const {
    Clock::time_point deadline = Clock::now() + timeout;
    // Not zero-filled: only what recv writes is read, and a fresh call
    // process should not touch 64 KiB of pages for a block of one.
    std::unique_ptr<char[]> peeked(new char[maxBytes + 1]);
    std::size_t seen = 0;
    Verdict verdict = Verdict::timedOut;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        // Wake only when more than what was already looked at has arrived;
        // without this, poll would report the peeked bytes over and over.
        setLowWater(socketFd, seen + 1);
        pollfd watched{socketFd, POLLIN | POLLRDHUP, 0};
        int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            verdict = Verdict::closed;
            break;
        }
        if (ready == 0) break;
        ssize_t got = ::recv(socketFd, peeked.get(), maxBytes + 1, MSG_PEEK | MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            verdict = seen == 0 ? Verdict::probe : Verdict::closed;  // a reset too
            break;
        }
        auto size = static_cast<std::size_t>(got);
        if (holdsWholeBlock(peeked.get(), size, maxBytes)) {
            verdict = Verdict::ready;
            break;
        }
        if (size > maxBytes) {
            verdict = Verdict::tooLong;
            break;
        }
        if (size == seen) {
            // Nothing new although poll woke: the peer half-closed, or the
            // kernel ignores the low-water mark. Either way, no spinning.
            if ((watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
                verdict = Verdict::closed;
                break;
            }
            timespec pause{0, 2 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        seen = size;
    }
    setLowWater(socketFd, 1);
    return verdict;
}

}  // namespace tarvik
