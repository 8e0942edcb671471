#include "util/Clock.h"

#include <utility>

namespace tarvik {

namespace {
// One process, one thread (one call per process): a plain static suffices.
std::function<time_t()>& overrideSource() {
    static std::function<time_t()> source;
    return source;
}
}  // namespace

time_t Clock::now() {
    const auto& source = overrideSource();
    if (source) return source();
    return std::time(nullptr);
}

void Clock::setOverride(std::function<time_t()> source) { overrideSource() = std::move(source); }

void Clock::reset() { overrideSource() = nullptr; }

}  // namespace tarvik
