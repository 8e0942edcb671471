#pragma once

#include <string>

namespace tarvik {

// Whether the configured back-office base URI ("kestro") can address the
// back office: every request URL is this text with a path appended, nothing
// repaired.
class BackOfficeAddress {
public:
    // Empty when usable; otherwise what is wrong with it.
    static std::string problem(const std::string& baseUri);
};

}  // namespace tarvik
