#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {

// The tests' one way to run a child process: a program (execv) or a function
// in a forked child, with standard error in a file of its own, standard
// output on a pipe, into that file or discarded, and optionally standard
// input on a pipe. The child starts with default signal handling and nothing
// blocked (as a service started by systemd), dies with the test process, and
// is killed and reaped when the object goes away; every wait is bounded. A
// sanitizer report on its standard error fails the test.
class TestProcess {
public:
    enum class Output { pipe, errorFile, discard };

    struct Options {
        Output output = Output::pipe;
        bool inputPipe = false;  // otherwise /dev/null
        std::string workingDirectory;
        // Added or replaced in the child's environment.
        std::vector<std::pair<std::string, std::string>> environment;
        // Signal actions the child keeps instead of resetting (SIGPIPE...).
        std::vector<int> keepSignals;
        // The child and every process it leaves behind hold one descriptor,
        // so waitForDescendants can tell when the last of them has ended.
        bool lifeline = false;
    };

    TestProcess(const std::vector<std::string>& argv, const Options& options);
    explicit TestProcess(const std::vector<std::string>& argv) : TestProcess(argv, Options{}) {}
    // The function's return value is the child's exit status.
    TestProcess(const std::function<int()>& body, const Options& options);
    ~TestProcess();

    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    bool started() const { return pid_ > 0 || reaped_; }
    pid_t pid() const { return pid_; }
    int outputFd() const { return output_; }  // -1 unless Output::pipe
    int inputFd() const { return input_; }    // -1 unless inputPipe
    void closeInput();
    // Hands the pipe ends over to the caller, who closes them.
    int releaseInput();
    int releaseOutput();

    // Standard error (and standard output with Output::errorFile) so far.
    std::string errorText() const;
    const std::string& errorPath() const { return errorPath_; }

    void signal(int number) const;
    // Waits for the child's end; its raw wait status, or false at the deadline.
    bool waitExit(std::chrono::milliseconds limit, int& status, struct rusage* usage = nullptr);
    // With Options::lifeline: true once the child and every process it
    // started have ended (a program may hand work to a detached process).
    bool waitForDescendants(std::chrono::milliseconds limit);
    // The exit status, or -1 when it ended by a signal or is killed at the
    // deadline.
    int waitExitStatus(std::chrono::milliseconds limit);
    // SIGKILL and reap, if still running.
    void kill();

private:
    void start(const std::function<int()>& body, const Options& options);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int output_ = -1;
    int input_ = -1;
    int lifeline_ = -1;
    std::string directory_;
    std::string errorPath_;
};

}  // namespace tarvik::testing
