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

#include "tests/support/Deadline.h"

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

using testing::millisLeft;

}  // namespace

std::string SimProcess::binaryPath() {
    return std::string(IVR_BINARY_DIR) + "/tools/backoffice-sim/backoffice-sim";
}

SimProcess::SimProcess(const std::vector<std::string>& arguments, const std::string& binary) {
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process_ = std::make_unique<testing::TestProcess>(argv);
}

SimProcess::~SimProcess() = default;

bool SimProcess::readLine(std::string& line, int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string::size_type newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return true;
        }
        const int output = process_->outputFd();
        if (output < 0) {
            return false;
        }
        pollfd ready{output, POLLIN, 0};
        int polled = poll(&ready, 1, millisLeft(deadline));
        if (polled <= 0) {
            return false;
        }
        char buffer[4096];
        ssize_t got = read(output, buffer, sizeof buffer);
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

void SimProcess::sendSignal(int signal) { process_->signal(signal); }

bool SimProcess::waitExit(int timeoutMs, int& status) {
    return process_->waitExit(std::chrono::milliseconds(timeoutMs), status);
}

std::string SimProcess::standardError() const { return process_->errorText(); }

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
