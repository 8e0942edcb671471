#pragma once

#include <string>

namespace tarvik {

// The usage text of --help: what an administrator needs at the server's
// shell without the README at hand.
class ProgramHelp {
public:
    // The whole text for the program named `program` (its path is cut to
    // the file name).
    static std::string text(const std::string& program);
};

}  // namespace tarvik
