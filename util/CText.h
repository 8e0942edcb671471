#pragma once

#include <cstdlib>
#include <memory>

namespace tarvik {

// Owned C texts (strdup/malloc) are released with free. Take every owned
// text into a CText the moment it is received, so no path can forget it.
struct FreeDeleter {
    void operator()(void* pointer) const noexcept { std::free(pointer); }
};

using CText = std::unique_ptr<char, FreeDeleter>;

// Copy of a text that may be null; the copy is null too.
char* duplicateText(const char* text);

}  // namespace tarvik
