#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvik {

// One program started with its standard input and output on pipes, the way
// Asterisk starts an AGI program. The object owns the process: if it is
// still running when the object goes away it is killed and reaped, so a
// benchmark that fails half-way leaves nothing behind.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] with argv. Standard error goes to errorFd (kept open by
    // the caller). False with a reason when the pipes or the spawn fail.
    bool start(const std::vector<std::string>& argv, int errorFd, std::string& error);

    pid_t pid() const { return pid_; }
    // Write end of the child's standard input.
    int inputFd() const { return input_; }
    // Read end of the child's standard output (non-blocking).
    int outputFd() const { return output_; }
    // Becomes readable when the child has exited (a pidfd).
    int exitFd() const { return exitFd_; }

    // Writes all of text to the child's standard input; false when the
    // child has closed it.
    bool send(const std::string& text);
    void closeInput();
    void closeOutput();

    // Reaps the child if it has exited; true once reaped, with its wait
    // status and resource usage (CPU time, peak resident memory).
    bool reap(int& status, struct rusage& usage);
    // SIGKILL to this child only, then reaps it.
    void kill();
    bool running() const { return pid_ > 0; }

    // Whether pid is a process started here and not yet reaped (any other
    // child of the driver was left behind by one of them).
    static bool isStarted(pid_t pid);

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int exitFd_ = -1;
};

}  // namespace tarvik
