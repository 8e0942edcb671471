#include "tools/backoffice-sim/CountingTaskQueue.h"

#include <utility>

namespace tarvik {

namespace {
thread_local unsigned long tCurrentConnection = 0;
}

void CountingTaskQueue::enqueue(std::function<void()> task) {
    unsigned long number = ++connections_;
    pool_.enqueue([task = std::move(task), number]() {
        tCurrentConnection = number;
        task();
        tCurrentConnection = 0;
    });
}

unsigned long CountingTaskQueue::currentConnection() {
    return tCurrentConnection;
}

}  // namespace tarvik
