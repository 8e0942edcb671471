#pragma once

#include <string>

namespace tarvik {

// Values that end up in a URL path (the caller's number, a typed document)
// come from outside: the calling party chooses its own number. Encoding
// every byte but the unreserved ones keeps "../", "?", "#" or spaces from
// changing which resource the back office is asked for.
class UrlPathEncoding {
public:
    // Percent-encodes every byte outside A-Z, a-z, 0-9, "-", ".", "_", "~"
    // (upper-case hex digits); digits pass unchanged. A value of "." or ".."
    // has its dots encoded as well.
    static std::string encodeSegment(const std::string& value);
};

}  // namespace tarvik
