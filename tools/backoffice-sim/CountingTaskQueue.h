#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>

namespace tarvik {

// The server's worker pool. The server hands it one task per accepted
// connection, so counting tasks counts connections; each task runs with its
// connection's number visible to the request handlers of that thread.
class CountingTaskQueue : public httplib::TaskQueue {
public:
    CountingTaskQueue(std::size_t threads, std::atomic<unsigned long>& connections)
        : pool_(threads), connections_(connections) {}

    void enqueue(std::function<void()> task) override;
    void shutdown() override { pool_.shutdown(); }

    // The number of the connection served by the calling thread; 0 outside.
    static unsigned long currentConnection();

private:
    httplib::ThreadPool pool_;
    std::atomic<unsigned long>& connections_;
};

}  // namespace tarvik
