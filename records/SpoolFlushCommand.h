#pragma once

#include <ostream>

namespace tarvik {

// `--flush-spool CONFIG.json`: sends the records of the configuration's back
// office waiting in its spool now, oldest first, stopping at the first one
// the back office cannot take (for a timer, when no calls come to do it).
// Records of other back offices in the same spool are left alone. Prints the
// lines about records not delivered and one line of figures; status 0 when
// nothing of this back office is left waiting or stuck, 1 otherwise, and
// when the configuration cannot be read or the spool is missing or unusable
// (it is never created here: the calls' user owns it).
class SpoolFlushCommand {
public:
    static int run(const char* configurationPath, std::ostream& out, std::ostream& errors);
};

}  // namespace tarvik
