#include "bench/ChildProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <set>

extern char** environ;

namespace tarvik {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::mutex startedLock;
std::set<pid_t>& startedPids() {
    static std::set<pid_t> pids;
    return pids;
}

void forget(pid_t pid) {
    std::lock_guard<std::mutex> lock(startedLock);
    startedPids().erase(pid);
}

int openPidFd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill();
    }
    closeFd(input_);
    closeFd(output_);
    closeFd(exitFd_);
}

bool ChildProcess::start(const std::vector<std::string>& argv, int errorFd, std::string& error) {
    // Close-on-exec everywhere: a child must not inherit another call's
    // pipes, or that call would never see the end of its output.
    int toChild[2];
    int fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        ::close(toChild[0]);
        ::close(toChild[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    if (errorFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);
    }
    std::vector<char*> arguments;
    for (const std::string& argument : argv) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    pid_t pid = -1;
    int result = ::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (result != 0) {
        error = "cannot start " + argv[0] + ": " + strerror(result);
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return false;
    }
    pid_ = pid;
    {
        std::lock_guard<std::mutex> lock(startedLock);
        startedPids().insert(pid);
    }
    input_ = toChild[1];
    output_ = fromChild[0];
    ::fcntl(output_, F_SETFL, ::fcntl(output_, F_GETFL) | O_NONBLOCK);
    exitFd_ = openPidFd(pid);
    if (exitFd_ < 0) {
        error = std::string("pidfd_open: ") + strerror(errno);
        return false;  // the destructor kills the child
    }
    return true;
}

bool ChildProcess::send(const std::string& text) {
    std::size_t written = 0;
    while (input_ >= 0 && written < text.size()) {
        ssize_t count = ::write(input_, text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return written == text.size();
}

void ChildProcess::closeInput() { closeFd(input_); }

void ChildProcess::closeOutput() { closeFd(output_); }

bool ChildProcess::reap(int& status, struct rusage& usage) {
    if (pid_ <= 0) {
        return false;
    }
    pid_t result = ::wait4(pid_, &status, WNOHANG, &usage);
    if (result != pid_) {
        return false;
    }
    forget(pid_);
    pid_ = -1;
    closeFd(exitFd_);
    return true;
}

void ChildProcess::kill() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    forget(pid_);
    pid_ = -1;
    closeFd(exitFd_);
}

}  // namespace tarvik

namespace tarvik {

bool ChildProcess::isStarted(pid_t pid) {
    std::lock_guard<std::mutex> lock(startedLock);
    return startedPids().count(pid) != 0;
}

}  // namespace tarvik
