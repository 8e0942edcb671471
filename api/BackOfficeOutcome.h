#pragma once

#include <string>
#include <vector>

namespace tarvik {

// What one back-office operation came to: readiness, a contract
// operation's outcome or a record's fate. The client writes nothing to the
// call; the flow acts on `done` and writes `lines` to the call's log.
struct BackOfficeOutcome {
    // Ready, done by the back office, or the record taken.
    bool done = false;
    // What the answer carried when the operation reads one: the external
    // protocol number, the recall attempts.
    std::string value;
    // The failure lines, in the order they arose.
    std::vector<std::string> lines;
};

}  // namespace tarvik
