#pragma once

#include <ctime>
#include <functional>

namespace tarvik {

// The one place the program reads the wall clock. Everything that depends on
// the time of day (the greeting, time2Int("now")) asks here, so a test can
// pin the time without touching the machine's clock or the environment.
class Clock {
public:
    // Seconds since the epoch: the override's answer when one is set,
    // otherwise time(nullptr).
    static time_t now();

    // Test seam: answer every later now() with `source`. An empty function
    // is the same as reset().
    static void setOverride(std::function<time_t()> source);
    static void reset();
};

}  // namespace tarvik
