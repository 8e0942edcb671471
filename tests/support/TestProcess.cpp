#include "tests/support/TestProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/Deadline.h"

namespace tarvik::testing {

namespace {

using Clock = std::chrono::steady_clock;

void resetSignals(const std::vector<int>& keep) {
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE, SIGALRM}) {
        if (std::find(keep.begin(), keep.end(), number) == keep.end()) ::signal(number, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

TestProcess::TestProcess(const std::vector<std::string>& argv, const Options& options) {
    // Everything exec needs is built before fork: the test process has
    // threads, and after fork only async-signal-safe calls are safe.
    std::vector<std::string> argumentTexts = argv;
    std::vector<char*> arguments;
    for (auto& text : argumentTexts) arguments.push_back(text.data());
    arguments.push_back(nullptr);
    std::vector<std::string> environmentTexts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string key = text.substr(0, text.find('='));
        bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                    [&](const auto& added) { return added.first == key; });
        if (!replaced) environmentTexts.push_back(text);
    }
    for (const auto& added : options.environment) environmentTexts.push_back(added.first + "=" + added.second);
    std::vector<char*> environment;
    for (auto& text : environmentTexts) environment.push_back(text.data());
    environment.push_back(nullptr);
    Options withoutEnvironment = options;
    withoutEnvironment.environment.clear();
    start(
        [&arguments, &environment] {
            execve(arguments[0], arguments.data(), environment.data());
            return 127;
        },
        withoutEnvironment);
}

TestProcess::TestProcess(const std::function<int()>& body, const Options& options) { start(body, options); }

void TestProcess::start(const std::function<int()>& body, const Options& options) {
    char pattern[] = "/tmp/ivr-test-process-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "no scratch directory for a child process";
        return;
    }
    directory_ = pattern;
    errorPath_ = directory_ + "/stderr.log";
    int outputPipe[2] = {-1, -1};
    int inputPipe[2] = {-1, -1};
    int lifelinePipe[2] = {-1, -1};
    if (options.lifeline && pipe2(lifelinePipe, O_CLOEXEC) != 0) ADD_FAILURE() << "cannot make a lifeline pipe";
    if ((options.output == Output::pipe && pipe2(outputPipe, O_CLOEXEC) != 0) ||
        (options.inputPipe && pipe2(inputPipe, O_CLOEXEC) != 0)) {
        ADD_FAILURE() << "no pipes for a child process";
        return;
    }
    const pid_t parent = getpid();
    std::fflush(nullptr);  // nothing buffered may be written twice
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that dies leaves nothing behind
        if (getppid() != parent) _exit(126);
        resetSignals(options.keepSignals);
        if (lifelinePipe[1] >= 0) ::fcntl(lifelinePipe[1], F_SETFD, 0);  // inherited through exec
        int log = ::open(errorPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(options.inputPipe ? inputPipe[0] : nothing, STDIN_FILENO);
        ::dup2(options.output == Output::pipe ? outputPipe[1] : options.output == Output::errorFile ? log : nothing,
               STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(126);
        _exit(body());
    }
    if (outputPipe[1] >= 0) ::close(outputPipe[1]);
    if (lifelinePipe[1] >= 0) ::close(lifelinePipe[1]);
    lifeline_ = lifelinePipe[0];
    if (inputPipe[0] >= 0) ::close(inputPipe[0]);
    output_ = outputPipe[0];
    input_ = inputPipe[1];
    if (pid_ < 0) {
        ADD_FAILURE() << "cannot fork a child process";
        closeInput();
    }
}

TestProcess::~TestProcess() {
    kill();
    if (lifeline_ >= 0) ::close(lifeline_);
    closeInput();
    if (output_ >= 0) ::close(output_);
    // In sanitizer builds the child reports its own faults on standard error.
    const std::string errors = errorText();
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error:") != std::string::npos) {
        ADD_FAILURE() << "a child process reported a fault:\n" << errors;
    }
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

bool TestProcess::waitForDescendants(std::chrono::milliseconds limit) {
    if (lifeline_ < 0) return true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const int left = millisLeft(deadline);
        if (left <= 0) return false;
        pollfd watched{lifeline_, POLLIN, 0};
        int ready = ::poll(&watched, 1, left);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char byte;
        ssize_t got = ::read(lifeline_, &byte, 1);
        if (got == 0) {
            ::close(lifeline_);
            lifeline_ = -1;
            return true;
        }
        if (got < 0 && errno != EINTR && errno != EAGAIN) return false;
    }
}

void TestProcess::closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
}

int TestProcess::releaseInput() {
    int fd = input_;
    input_ = -1;
    return fd;
}

int TestProcess::releaseOutput() {
    int fd = output_;
    output_ = -1;
    return fd;
}

std::string TestProcess::errorText() const {
    std::ifstream in(errorPath_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void TestProcess::signal(int number) const {
    if (pid_ > 0) ::kill(pid_, number);
}

bool TestProcess::waitExit(std::chrono::milliseconds limit, int& status, struct rusage* usage) {
    if (pid_ <= 0) return false;
    Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        pid_t done = ::wait4(pid_, &status, WNOHANG, usage);
        if (done == pid_) {
            pid_ = -1;
            reaped_ = true;
            return true;
        }
        if (done < 0 || Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int TestProcess::waitExitStatus(std::chrono::milliseconds limit) {
    int status = 0;
    if (!waitExit(limit, status)) {
        kill();
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void TestProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    reaped_ = true;
}

}  // namespace tarvik::testing
