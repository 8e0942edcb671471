#pragma once

#include <string>

namespace tarvik {

// The suffix a process puts on a spool file it claims: ".claimed-PID-START",
// START being the process's start time in clock ticks since boot, so that a
// claim of a process that is gone is recognised even when its process id has
// been given to another process since.
class ClaimMarker {
public:
    static const char* const kPrefix;  // ".claimed-"

    // This process's marker.
    static std::string own();
    // Whether the process that wrote `marker` (the text from kPrefix on) is
    // gone. Markers without a start time judge by the process id alone.
    static bool ownerIsGone(const std::string& marker);

private:
    // Start time of a process, or 0 when it cannot be read (it is gone).
    static unsigned long long startTime(long pid);
};

}  // namespace tarvik
