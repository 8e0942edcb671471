#pragma once

#include <functional>
#include <memory>

namespace tarvik {

// A task run on a thread that, once the task is done, waits for the next
// one instead of ending: a process that serves call after call starts its
// helper threads (the records' sender, the early lookups) once, not per call,
// and what such a thread keeps (its libcurl handle) serves the next call too.
// Used like std::thread: start, then join (the destructor joins). A child
// forked while threads wait starts without them.
class ReusedThread {
public:
    ReusedThread() = default;
    ~ReusedThread();
    ReusedThread(const ReusedThread&) = delete;
    ReusedThread& operator=(const ReusedThread&) = delete;

    // Runs task on a waiting thread, or on a new one when none waits.
    // False when no thread could be started (the host is out of tasks):
    // the task is dropped unrun and nothing is left to join, so the caller
    // does the work another way.
    bool start(std::function<void()> task);
    // Started and not yet joined.
    bool joinable() const { return ticket != nullptr; }
    // Waits until the task has returned.
    void join();

    struct Ticket;

private:
    std::shared_ptr<Ticket> ticket;
};

}  // namespace tarvik
