#pragma once

#include "bench/AgiPeer.h"

#include <ostream>
#include <string>
#include <vector>

namespace tarvik {

struct CallerWaitSettings {
    std::string ivr, sim, config, data, work;
    std::string callerId, destination, expectedGoto;
    AgiScript script;
    int errorFd = -1;
    int runs = 3;  // per cell, fewer when a cell runs long
};

// The "caller wait" table: what the caller hears (and does not) during the
// sample call when every prompt takes 0.5 s, against a back office that
// answers at once, 100 ms or 300 ms late, never, or refuses connections, with the
// remote records sent in the background and in line side by side.
class CallerWaitBench {
public:
    explicit CallerWaitBench(CallerWaitSettings settings) : settings_(std::move(settings)) {}

    // Runs every cell and prints the table. False when a check failed (a
    // program or simulator that did not start, a call against an answering
    // back office that did not reach its destination, a call killed at its
    // deadline); missed targets are only reported.
    bool run(std::ostream& out, std::vector<std::string>& problems);

private:
    CallerWaitSettings settings_;
};

}  // namespace tarvik
