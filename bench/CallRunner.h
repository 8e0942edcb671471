#pragma once

#include "bench/AgiPeer.h"

#include <chrono>
#include <string>
#include <vector>

namespace tarvik {

// One program run: its command line and what is written to its standard
// input at once (the AGI start-up block; empty for the floor program).
struct CallPlan {
    std::vector<std::string> argv;
    std::string startup;

    // `ivr DESTINATION CONFIG` from `callerId` on channel
    // "PJSIP/trunk-CHANNELNUMBER", with that unique id.
    static CallPlan sampleCall(const std::string& ivr, const std::string& destination, const std::string& configPath,
                               const std::string& callerId, const std::string& uniqueId, int channelNumber);
};

// What one run cost and said. Times are milliseconds from just before the
// spawn; CPU is the child's user plus system time from wait4, plus, for a
// run of one call, that of the processes it left behind (LeftBehind).
struct CallOutcome {
    bool started = false;
    bool exited = false;        // exited on its own before the deadline
    int exitStatus = -1;        // when exited normally
    double firstCommandMs = -1; // first complete line on standard output
    double wallMs = 0;
    double cpuMs = 0;
    long peakRssKiB = 0;
    std::vector<std::string> commands;
    std::string error;
};

// Starts every call at once and plays Asterisk for all of them over their
// pipes until each has exited. Whatever still runs at the deadline is killed
// and reported as not exited.
class CallRunner {
public:
    CallRunner(const AgiScript& script, int errorFd) : script_(script), errorFd_(errorFd) {}

    std::vector<CallOutcome> run(const std::vector<CallPlan>& calls, std::chrono::milliseconds deadline);

    // Milliseconds from the first spawn to the last exit of the latest run.
    // Processes left behind by the calls count until they have ended.
    double lastBatchMs() const { return lastBatchMs_; }
    // CPU of the processes the latest run's calls left behind.
    double lastLeftBehindCpuMs() const { return lastLeftBehindCpuMs_; }

private:
    const AgiScript& script_;
    int errorFd_;
    double lastBatchMs_ = 0;
    double lastLeftBehindCpuMs_ = 0;
};

}  // namespace tarvik
