#include "util/SpoolObserver.h"

#include <atomic>

namespace tarvik {

namespace {
// The spool is used from the records' sender thread too.
std::atomic<SpoolObserver::Function> listener{nullptr};
std::atomic<SpoolObserver::OfficeFunction> officeListener{nullptr};
}  // namespace

void SpoolObserver::install(Function function) { listener = function; }

void SpoolObserver::installOffice(OfficeFunction function) { officeListener = function; }

bool SpoolObserver::installed() { return listener.load() != nullptr || officeListener.load() != nullptr; }

void SpoolObserver::reportOffice(const char* address, std::size_t waiting, std::size_t aside,
                                 double oldestAgeSeconds) {
    OfficeFunction function = officeListener;
    if (function != nullptr) function(address, waiting, aside, oldestAgeSeconds);
}

void SpoolObserver::report(const char* event, std::size_t count) {
    Function function = listener;
    if (function != nullptr) function(event, count);
}

}  // namespace tarvik
