#pragma once

#include "bench/ChildProcess.h"

#include <string>
#include <vector>

namespace tarvik {

// The simulator's own counters (GET /_sim/stats).
struct SimStats {
    unsigned long connections = 0;
    unsigned long requests = 0;
};

// The back-office simulator run as a child process on a free loopback port.
class BackOfficeSim {
public:
    ~BackOfficeSim();

    // Starts the program with the given options plus "--port 0" and waits
    // (bounded) for its "listening on 127.0.0.1:PORT" line.
    bool start(const std::string& program, const std::vector<std::string>& options, int errorFd,
               std::string& error);
    int port() const { return port_; }

    // One GET /_sim/stats over a fresh connection (bounded).
    bool stats(SimStats& stats, std::string& error) const;

    // SIGTERM, then a bounded wait, then SIGKILL.
    void stop();
    // CPU time (user + system) the simulator used, known once it has stopped.
    double cpuMs() const { return cpuMs_; }

private:
    ChildProcess process_;
    int port_ = 0;
    double cpuMs_ = 0;
};

}  // namespace tarvik
