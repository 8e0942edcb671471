#pragma once

#include <ostream>

namespace tarvik {

// `--flush-spool CONFIG.json`: sends the records waiting in the
// configuration's spool to its back office now, oldest first, stopping at
// the first one the back office cannot take (for a timer, when no calls
// come to do it). Prints one line of figures; status 0 when nothing is left
// waiting, 1 otherwise or when the configuration cannot be read.
class SpoolFlushCommand {
public:
    static int run(const char* configurationPath, std::ostream& out, std::ostream& errors);
};

}  // namespace tarvik
