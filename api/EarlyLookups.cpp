#include "api/EarlyLookups.h"

#include <utility>

namespace tarvik {

EarlyLookups::EarlyLookups(std::unique_ptr<ApiRequest> readyRequest, std::unique_ptr<ApiRequest> lookupRequest,
                           ReadyJudge isReadyAnswer)
    : ready(std::move(readyRequest)), lookup(std::move(lookupRequest)) {
    worker.start([this, isReadyAnswer = std::move(isReadyAnswer)] {
        readyAnswer = ready->send();
        if (lookup && isReadyAnswer(readyAnswer.get())) {
            lookupAnswer = lookup->send();
            lookupSent = true;
        }
    });
}

EarlyLookups::~EarlyLookups() { wait(); }

void EarlyLookups::wait() {
    if (worker.joinable()) worker.join();
}

bool EarlyLookups::take(std::unique_ptr<ApiRequest>& sent, bool wasSent, const ApiRequest& request,
                        ApiRequest::Result& answer, ApiRequest::Result& result) {
    if (!sent || !wasSent || !sent->sameAs(request)) return false;
    result = std::move(answer);
    sent.reset();
    return true;
}

bool EarlyLookups::takeReady(const ApiRequest& request, ApiRequest::Result& result) {
    wait();
    return take(ready, true, request, readyAnswer, result);
}

bool EarlyLookups::takeLookup(const ApiRequest& request, ApiRequest::Result& result) {
    wait();
    return take(lookup, lookupSent, request, lookupAnswer, result);
}

}  // namespace tarvik
