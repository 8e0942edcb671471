#include "fastagi/ServiceCapacity.h"

#include <sys/resource.h>

#include <exception>
#include <fstream>
#include <string>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

std::size_t callsWithin(std::size_t limit, std::size_t fixed, std::size_t perCall) {
    return limit > fixed ? (limit - fixed) / perCall : 0;
}

// The first line of a file as a count; 0 for "max", a missing file or text.
std::size_t readCount(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!std::getline(in, text) || text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    try {
        return static_cast<std::size_t>(std::stoull(text));
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

std::string ServiceCapacity::shortfall(std::size_t calls, std::size_t taskLimit, std::size_t descriptorLimit) {
    std::string line;
    if (taskLimit != 0 && taskLimit < tasksNeeded(calls)) {
        line = formatBounded("tasks limit %zu (TasksMax) carries about %zu calls, %zu needed", taskLimit,
                             callsWithin(taskLimit, kServiceTasks, kTasksPerCall), tasksNeeded(calls));
    }
    if (descriptorLimit != 0 && descriptorLimit < descriptorsNeeded(calls)) {
        line += formatBounded("%sdescriptor limit %zu (LimitNOFILE) carries about %zu calls, %zu needed",
                              line.empty() ? "" : "; ", descriptorLimit,
                              callsWithin(descriptorLimit, kServiceDescriptors, kDescriptorsPerCall),
                              descriptorsNeeded(calls));
    }
    if (line.empty()) return line;
    return formatBounded("fastagi: max_calls=%zu does not fit: %s", calls, line.c_str());
}

std::size_t ServiceCapacity::descriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<std::size_t>(limit.rlim_cur);
}

std::size_t ServiceCapacity::taskLimit() {
    // "0::/path" (the unified hierarchy) or "N:pids:/path" (the pids controller's own).
    std::ifstream cgroups("/proc/self/cgroup");
    std::string line;
    while (std::getline(cgroups, line)) {
        std::string path;
        if (line.rfind("0::", 0) == 0) {
            path = "/sys/fs/cgroup" + line.substr(3);
        } else {
            const std::size_t mark = line.find(":pids:");
            if (mark == std::string::npos) continue;
            path = "/sys/fs/cgroup/pids" + line.substr(mark + 6);
        }
        const std::size_t limit = readCount(path + "/pids.max");
        if (limit != 0) return limit;
    }
    return 0;
}

}  // namespace tarvik
