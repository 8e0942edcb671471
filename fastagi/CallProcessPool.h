#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarvik {

// The service's side of its call processes: each serves one call at a time
// and many calls in turn, taking each call's socket over a channel of its
// own (DescriptorPassing) and answering "done" after it, or "retire REASON"
// when it leaves after that call. The pool keeps a few idle processes
// started ahead, grows on demand, lets processes beyond those few leave once
// they have waited `idleTimeout` for a call, and forgets a process once it
// is reaped.
class CallProcessPool {
public:
    // Runs in the new process with its end of the channel; never returns.
    using ProcessMain = std::function<void(int channel)>;

    CallProcessPool(std::size_t spare, std::size_t maxProcesses, std::chrono::milliseconds idleTimeout,
                    ProcessMain processMain, std::function<void()> onStarted);
    ~CallProcessPool();

    CallProcessPool(const CallProcessPool&) = delete;
    CallProcessPool& operator=(const CallProcessPool&) = delete;

    // Starts processes until `spare` are idle (within the maximum).
    void topUp();
    // Closes the channels of processes beyond `spare` that have been idle
    // for `idleTimeout`: they leave (reason "idle").
    void retireIdle();
    // Until the next process is due to leave idle (-1: none is).
    int waitLimitMs() const;
    // Hands the connection to an idle process, starting one if none is;
    // false when that failed (the caller still owns socketFd).
    bool assign(int socketFd, const std::string& peer);

    void addTo(std::vector<pollfd>& set) const;
    // Reads the processes' answers from the `count` descriptors addTo
    // appended at `first`.
    void handle(const std::vector<pollfd>& set, std::size_t first, std::size_t count);

    struct Exit {
        bool busy = false;   // it was serving a call
        std::string peer;    // that call's peer
        std::string reason;  // why it left ("calls", "memory", "idle"), empty if it did not say
    };
    // For a reaped child: true (with what is known) when it was one of ours.
    bool forget(pid_t pid, Exit& exit);

    // Waits up to `milliseconds` for answers and reads them: a call that is
    // ending frees its process a moment after Asterisk saw it end.
    void awaitAnswers(int milliseconds);

    std::size_t busy() const;
    std::size_t size() const { return processes.size(); }
    // Draining: every channel is closed, so idle processes leave at once and
    // busy ones after their call.
    void closeChannels();
    void signalAll(int signal) const;

private:
    struct Process {
        int channel = -1;
        bool busy = false;
        bool leaving = false;
        std::string peer;
        std::string reason;
        unsigned long long lastAssigned = 0;
        std::chrono::steady_clock::time_point idleSince;
    };

    // `heldCallFd`: a call's socket the service holds while it starts the
    // process; the new process must not keep a copy of it (-1: none).
    pid_t start(int heldCallFd = -1);
    Process* longestIdle();
    void readAnswer(Process& process);
    std::size_t idle() const;

    std::size_t spare;
    std::size_t maxProcesses;
    std::chrono::milliseconds idleTimeout;
    ProcessMain processMain;
    std::function<void()> onStarted;
    std::map<pid_t, Process> processes;
    unsigned long long assignments = 0;
};

}  // namespace tarvik
