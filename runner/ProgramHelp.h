#pragma once

#include <string>

namespace tarvik {

// The usage text of --help: what an administrator needs at the server's
// shell without the README at hand. It is also the one source of the
// manual pages' synopsis and options (tools/make-man.py reads it), so its
// layout is kept regular: "Usage:" lines, headings ending in ":" at the
// margin, entries indented two spaces with their text after two spaces or
// on lines indented further.
class ProgramHelp {
public:
    // The whole text for the program named `program` (its path is cut to
    // the file name).
    static std::string text(const std::string& program);

    // Only the "Usage:" lines, shown after a command-line error.
    static std::string usage(const std::string& program);

    // The program's file name, as the texts show it.
    static std::string name(const std::string& program);
};

}  // namespace tarvik
