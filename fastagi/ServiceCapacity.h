#pragma once

#include <cstddef>
#include <string>

namespace tarvik {

// What --max-calls asks of the host, against the limits the service runs
// under (a unit's TasksMax and LimitNOFILE). Measured on held calls (each
// answered up to the invoice question, bench/fastagi_bench.py --only held):
// a call process holds 4 tasks (itself and the threads of the early
// requests, the records' sender and the stop-signal watcher) and libcurl
// starts a short-lived resolver thread for each of its 3 connections when
// the back office is named by a host name; the service's own process
// keeps one descriptor per call process (about 5 besides) and needs room
// for the connections it accepts and the metrics endpoint's 64.
class ServiceCapacity {
public:
    static constexpr std::size_t kTasksPerCall = 7;
    static constexpr std::size_t kServiceTasks = 16;
    static constexpr std::size_t kDescriptorsPerCall = 2;
    static constexpr std::size_t kServiceDescriptors = 80;

    static std::size_t tasksNeeded(std::size_t calls) { return kTasksPerCall * calls + kServiceTasks; }
    static std::size_t descriptorsNeeded(std::size_t calls) {
        return kDescriptorsPerCall * calls + kServiceDescriptors;
    }

    // One line saying which limit `calls` calls do not fit and how many
    // calls it carries, or "" when both fit. A limit of 0 is unknown.
    static std::string shortfall(std::size_t calls, std::size_t taskLimit, std::size_t descriptorLimit);

    // This process's soft RLIMIT_NOFILE (0: unlimited or unknown).
    static std::size_t descriptorLimit();
    // pids.max of this process's cgroup when it can be read (0: none).
    static std::size_t taskLimit();
};

}  // namespace tarvik
