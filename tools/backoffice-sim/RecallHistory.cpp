#include "tools/backoffice-sim/RecallHistory.h"

namespace tarvik {

void RecallHistory::forgetOld(std::deque<Clock::time_point>& calls, Clock::time_point now) const {
    while (!calls.empty() && now - calls.front() >= window_) {
        calls.pop_front();
    }
}

int RecallHistory::registerCall(const std::string& document, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Now and then drop the documents whose calls all left the window, so
    // a long run stays small.
    if (++registrations_ % 1024 == 0) {
        for (auto it = calls_.begin(); it != calls_.end();) {
            forgetOld(it->second, now);
            it = it->second.empty() ? calls_.erase(it) : std::next(it);
        }
    }
    if (window_.count() <= 0) {
        return 0;
    }
    std::deque<Clock::time_point>& calls = calls_[document];
    forgetOld(calls, now);
    calls.push_back(now);
    return static_cast<int>(calls.size());
}

int RecallHistory::callsWithinWindow(const std::string& document, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = calls_.find(document);
    if (found == calls_.end()) {
        return 0;
    }
    forgetOld(found->second, now);
    return static_cast<int>(found->second.size());
}

}  // namespace tarvik
