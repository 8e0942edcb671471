#pragma once

#include <functional>
#include <memory>

#include "api/ApiRequest.h"
#include "util/ReusedThread.h"

namespace tarvik {

// The readiness check and the lookup by calling number, started as soon as
// the call begins so that their answers are in by the time the flow asks.
// Both are GET requests that change nothing in the back office; the lookup
// goes only after a ready answer. The flow still makes its own requests: a
// request is answered from here only when it is the very exchange that was
// sent early (same method, address, headers and body), and only once.
class EarlyLookups {
public:
    using ReadyJudge = std::function<bool(const KestroAgiDataSourceResult*)>;

    // lookup may be null. Both requests are prepared (addressed) already.
    EarlyLookups(std::unique_ptr<ApiRequest> ready, std::unique_ptr<ApiRequest> lookup, ReadyJudge isReadyAnswer);
    ~EarlyLookups();
    EarlyLookups(const EarlyLookups&) = delete;
    EarlyLookups& operator=(const EarlyLookups&) = delete;

    // Waits until both exchanges are over.
    void wait();

    // True when `request` was sent early; its result (null: transfer failed)
    // is moved into `result`.
    bool takeReady(const ApiRequest& request, ApiRequest::Result& result);
    bool takeLookup(const ApiRequest& request, ApiRequest::Result& result);

private:
    static bool take(std::unique_ptr<ApiRequest>& sent, bool wasSent, const ApiRequest& request,
                     ApiRequest::Result& answer, ApiRequest::Result& result);

    std::unique_ptr<ApiRequest> ready;
    std::unique_ptr<ApiRequest> lookup;
    ApiRequest::Result readyAnswer;
    ApiRequest::Result lookupAnswer;
    bool lookupSent = false;
    ReusedThread worker;
};

}  // namespace tarvik
