#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <memory>

#include "tests/support/TempDir.h"
#include "tests/support/TestProcess.h"

namespace tarvik {


// The back-office simulator run as a child process (a TestProcess). Its
// standard output is a pipe read with deadlines; its standard error goes to
// a file. The child is killed and reaped at scope end if it still runs, so a
// failing test never leaves it behind.
class SimProcess {
public:
    // `binary` runs another program the same way (the IVR programs' modes
    // that only print and exit).
    explicit SimProcess(const std::vector<std::string>& arguments, const std::string& binary = binaryPath());
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static std::string binaryPath();

    // One line of standard output (without its newline); false at end of
    // output or when the deadline passes first.
    bool readLine(std::string& line, int timeoutMs);
    // Reads the "listening on 127.0.0.1:PORT" line; the port, or -1.
    int waitListening(int timeoutMs = 10000);
    int port() const { return port_; }

    void sendSignal(int signal);
    // The raw wait status once the child ended within the deadline; false otherwise.
    bool waitExit(int timeoutMs, int& status);
    std::string standardError() const;

private:
    std::unique_ptr<testing::TestProcess> process_;
    std::string pending_;
    int port_ = -1;
};

// Runs the simulator to its end (for option errors and --help): exit status
// (or -1 when it did not end in time), standard output and standard error.
struct SimRun {
    int exitStatus = -1;
    std::string output;
    std::string errors;
};
SimRun runSimToEnd(const std::vector<std::string>& arguments, int timeoutMs = 10000);
// The same for any program.
SimRun runProgramToEnd(const std::string& binary, const std::vector<std::string>& arguments, int timeoutMs = 10000);

}  // namespace tarvik
