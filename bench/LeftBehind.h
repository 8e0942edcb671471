#pragma once

#include <chrono>

namespace tarvik {

// Processes a call leaves behind. A program handed back to Asterisk may
// leave a process of its own to finish its records; the driver is a child
// subreaper, so such processes become its children when their parent exits,
// and their CPU is the call's too. Every process started through
// ChildProcess is the driver's own; any other child is left behind.
class LeftBehind {
public:
    // Makes this process the subreaper of everything it starts.
    static bool adopt();

    // Waits until no child left behind is running (at most `limit`), reaps
    // them and returns their CPU time (user + system) in milliseconds.
    static double collect(std::chrono::milliseconds limit);
};

}  // namespace tarvik
