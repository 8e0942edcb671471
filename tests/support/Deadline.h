#pragma once

#include <chrono>

namespace tarvik::testing {

// Milliseconds until `deadline` for poll(), 0 once it has passed.
inline int millisLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace tarvik::testing
