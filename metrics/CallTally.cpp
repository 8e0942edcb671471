#include "metrics/CallTally.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "metrics/CallMetrics.h"
#include "util/SpoolObserver.h"
#include "util/TransferObserver.h"

namespace tarvik {

namespace {

// A call makes some twenty reports; a runaway one is still counted in the
// totals but keeps no more lines than this.
constexpr std::size_t kMaxKept = 4096;

std::mutex tallyMutex;
std::atomic<CallTally::Forward> forwardTo{nullptr};
std::vector<std::string> kept;
CallTally::Totals sums;

void keep(const std::string& report) {
    CallTally::Forward forward = forwardTo;
    if (forward != nullptr) {
        forward(report);
        return;
    }
    std::lock_guard<std::mutex> guard(tallyMutex);
    if (kept.size() < kMaxKept) kept.push_back(report);
}

void onTransfer(const char* url, long code, double seconds) {
    {
        std::lock_guard<std::mutex> guard(tallyMutex);
        ++sums.requests;
        if (seconds > sums.longestRequestSeconds) sums.longestRequestSeconds = seconds;
    }
    keep(CallMetrics::requestReport(url != nullptr ? url : "", code, seconds));
}

void onSpool(const char* event, std::size_t count) {
    if (event == nullptr) return;
    if (std::strncmp(event, "not-delivered-", 14) == 0) {
        std::lock_guard<std::mutex> guard(tallyMutex);
        sums.notDelivered += count;
    }
    keep(CallMetrics::spoolReport(event, count));
}

void onOffice(const char* address, std::size_t waiting, std::size_t aside, double oldestAgeSeconds) {
    keep(CallMetrics::officeReport(address, waiting, aside, oldestAgeSeconds));
}

}  // namespace

void CallTally::listen(Forward forward) {
    if (forward != nullptr) forwardTo = forward;
    TransferObserver::install(&onTransfer);
    SpoolObserver::install(&onSpool);
    SpoolObserver::installOffice(&onOffice);
}

bool CallTally::forwarding() { return forwardTo.load() != nullptr; }

void CallTally::begin() {
    std::lock_guard<std::mutex> guard(tallyMutex);
    kept.clear();
    sums = Totals{};
}

CallTally::Totals CallTally::totals() {
    std::lock_guard<std::mutex> guard(tallyMutex);
    return sums;
}

std::vector<std::string> CallTally::reports() {
    std::lock_guard<std::mutex> guard(tallyMutex);
    return kept;
}

}  // namespace tarvik
