#pragma once

#include <string>

namespace tarvik {

// Whether the spool directory a call would use can take records: it must be
// a directory the check's user can write, or be missing under one (the
// first record makes it), and no one else should be able to write it.
class SpoolDirectory {
public:
    // Empty when usable; otherwise one line saying why not.
    static std::string problem(const std::string& directory);
    // Empty unless group or others can write it: records planted there
    // would travel to the back office with the access token.
    static std::string warning(const std::string& directory);
};

}  // namespace tarvik
