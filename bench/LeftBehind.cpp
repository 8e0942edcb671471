#include "bench/LeftBehind.h"

#include "bench/ChildProcess.h"

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace tarvik {

namespace {

// Children of every thread of this process (reparented ones included).
std::vector<pid_t> childrenOfThisProcess() {
    std::vector<pid_t> children;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return children;
    while (dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream list(std::string("/proc/self/task/") + entry->d_name + "/children");
        pid_t pid;
        while (list >> pid) children.push_back(pid);
    }
    ::closedir(tasks);
    return children;
}

double cpuMilliseconds(const struct rusage& usage) {
    auto toMs = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
    return toMs(usage.ru_utime) + toMs(usage.ru_stime);
}

}  // namespace

bool LeftBehind::adopt() { return ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0; }

double LeftBehind::collect(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point giveUpAt = Clock::now() + limit;
    double cpuMs = 0;
    for (;;) {
        std::vector<pid_t> left;
        for (pid_t pid : childrenOfThisProcess()) {
            if (!ChildProcess::isStarted(pid)) left.push_back(pid);
        }
        if (left.empty()) return cpuMs;
        for (pid_t pid : left) {
            int exitFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
            if (exitFd >= 0) {
                auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - Clock::now());
                pollfd ready{exitFd, POLLIN, 0};
                if (remaining.count() > 0) ::poll(&ready, 1, static_cast<int>(remaining.count()));
                ::close(exitFd);
            }
            int status = 0;
            struct rusage usage {};
            pid_t reaped = ::wait4(pid, &status, WNOHANG, &usage);
            if (reaped == pid) {
                cpuMs += cpuMilliseconds(usage);
            } else if (Clock::now() >= giveUpAt) {
                // Still running at the limit: no longer waited for.
                ::kill(pid, SIGKILL);
                if (::wait4(pid, &status, 0, &usage) == pid) cpuMs += cpuMilliseconds(usage);
            }
        }
    }
}

}  // namespace tarvik
