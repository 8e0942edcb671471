#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace tarvik {

// The calls registered per document. A document registered more than once
// within the window is a recall; its attempt is the number of calls within
// the window, this one included.
class RecallHistory {
public:
    using Clock = std::chrono::steady_clock;

    explicit RecallHistory(std::chrono::seconds window) : window_(window) {}

    // Records a call; returns the number of calls of the document within the window.
    int registerCall(const std::string& document, Clock::time_point now);

    // The number of calls of the document within the window.
    int callsWithinWindow(const std::string& document, Clock::time_point now);

private:
    void forgetOld(std::deque<Clock::time_point>& calls, Clock::time_point now) const;

    std::chrono::seconds window_;
    std::mutex mutex_;
    std::map<std::string, std::deque<Clock::time_point>> calls_;
    unsigned long registrations_ = 0;
};

}  // namespace tarvik
