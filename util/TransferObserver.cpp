#include "util/TransferObserver.h"

namespace tarvik {

namespace {
TransferObserver::Function installed = nullptr;
}  // namespace

void TransferObserver::install(Function function) { installed = function; }

void TransferObserver::report(const char* url, long code, double seconds) {
    if (installed != nullptr) installed(url, code, seconds);
}

}  // namespace tarvik
