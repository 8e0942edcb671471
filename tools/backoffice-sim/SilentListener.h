#pragma once

#include <signal.h>

#include <cstddef>
#include <vector>

namespace tarvik {

// A back office that stopped answering: listens on 127.0.0.1, accepts every
// connection and holds it open without ever reading a byte or answering, so
// a client's request stays unanswered until its own timeout.
class SilentListener {
public:
    SilentListener() = default;
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    // Binds and listens at the port (0: any free port). The bound port, or -1.
    int bind(int port);
    // Accepts and holds connections until one of stopSignals (blocked by
    // the caller) arrives. False when the signals cannot be watched.
    bool run(const sigset_t& stopSignals);
    std::size_t held() const { return held_.size(); }

private:
    int listening_ = -1;
    std::vector<int> held_;
};

}  // namespace tarvik
