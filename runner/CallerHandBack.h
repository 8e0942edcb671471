#pragma once

#include <sys/types.h>

namespace tarvik {

// Lets Asterisk go on with the dial plan as soon as the call's last channel
// command is answered, while the program still delivers what it has pending.
// Asterisk waits for the process it started to exit, even after that
// process closed its output; a process of another session that holds none of
// the channel's descriptors does not hold the call. So the started process
// forks before anything else: the child runs the call, and the parent only
// waits for the child's word and exits with the call's status.
class CallerHandBack {
public:
    CallerHandBack() = default;
    CallerHandBack(const CallerHandBack&) = delete;
    CallerHandBack& operator=(const CallerHandBack&) = delete;

    // Returns in the child. The parent never returns: it exits with the
    // status given to release, or with the child's own fate if the child
    // ends first. Without a fork (it failed) the call runs as it would, and
    // says so in one line.
    void detach();

    // In the child after the last channel command: the channel's
    // descriptors are closed, the child leaves the call's session and the
    // parent exits with `status`. Does nothing when not detached.
    void release(int status);

    // A child runs the call and the parent waits to hand it back.
    bool detached() const { return toParent >= 0 || released; }

private:
    [[noreturn]] static void waitForRelease(int fromChild, pid_t child);
    // One line on standard error: what failed, and that the call goes on.
    static void cannotStart(const char* step);

    int toParent = -1;
    bool released = false;
};

}  // namespace tarvik
