#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string SimProcess::binaryPath() {
    return std::string(IVR_BINARY_DIR) + "/tools/backoffice-sim/backoffice-sim";
}

SimProcess::SimProcess(const std::vector<std::string>& arguments, const std::string& binary) {
    char errorTemplate[] = "/tmp/backoffice-sim-stderr-XXXXXX";
    int errorFd = mkstemp(errorTemplate);
    if (errorFd < 0) {
        return;
    }
    stderrPath_ = errorTemplate;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        close(errorFd);
        return;
    }
    std::vector<std::string> argvTexts{binary};
    argvTexts.insert(argvTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : argvTexts) {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(errorFd, STDERR_FILENO);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    close(errorFd);
    stdoutFd_ = pipeFds[0];
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // In sanitizer builds the child reports its own faults on standard error.
    std::string errors = standardError();
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos) {
        ADD_FAILURE() << "the simulator reported a fault:\n" << errors;
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
    }
    if (!stderrPath_.empty()) {
        unlink(stderrPath_.c_str());
    }
}

bool SimProcess::readLine(std::string& line, int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string::size_type newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return true;
        }
        if (stdoutFd_ < 0) {
            return false;
        }
        pollfd ready{stdoutFd_, POLLIN, 0};
        int polled = poll(&ready, 1, millisLeft(deadline));
        if (polled <= 0) {
            return false;
        }
        char buffer[4096];
        ssize_t got = read(stdoutFd_, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

int SimProcess::waitListening(int timeoutMs) {
    std::string line;
    const std::string prefix = "listening on 127.0.0.1:";
    if (!readLine(line, timeoutMs) || line.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    port_ = std::atoi(line.c_str() + prefix.size());
    return port_ > 0 ? port_ : -1;
}

void SimProcess::sendSignal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

bool SimProcess::waitExit(int timeoutMs, int& status) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return true;
        }
        if (done < 0 || millisLeft(deadline) == 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string SimProcess::standardError() const {
    return stderrPath_.empty() ? std::string() : readWhole(stderrPath_);
}

SimRun runSimToEnd(const std::vector<std::string>& arguments, int timeoutMs) {
    return runProgramToEnd(SimProcess::binaryPath(), arguments, timeoutMs);
}

SimRun runProgramToEnd(const std::string& binary, const std::vector<std::string>& arguments, int timeoutMs) {
    SimRun run;
    SimProcess process(arguments, binary);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (process.readLine(line, millisLeft(deadline))) {
        run.output += line + "\n";
    }
    int status = 0;
    if (process.waitExit(millisLeft(deadline), status) && WIFEXITED(status)) {
        run.exitStatus = WEXITSTATUS(status);
    }
    run.errors = process.standardError();
    return run;
}

}  // namespace tarvik
