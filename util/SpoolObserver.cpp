#include "util/SpoolObserver.h"

#include <atomic>

namespace tarvik {

namespace {
// The spool is used from the records' sender thread too.
std::atomic<SpoolObserver::Function> listener{nullptr};
}  // namespace

void SpoolObserver::install(Function function) { listener = function; }

bool SpoolObserver::installed() { return listener.load() != nullptr; }

void SpoolObserver::report(const char* event, std::size_t count) {
    Function function = listener;
    if (function != nullptr) function(event, count);
}

}  // namespace tarvik
