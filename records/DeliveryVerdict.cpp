#include "records/DeliveryVerdict.h"

#include "util/BoundedFormat.h"

namespace tarvik {

DeliveryVerdict DeliveryVerdict::judge(const KestroAgiDataSourceResult* answer, TransferFault fault) {
    DeliveryVerdict verdict;
    if (answer == nullptr) {
        verdict.fate = Fate::waiting;
        switch (fault) {
            case TransferFault::timeout:
                verdict.reason = "time-out";
                verdict.metric = "time-out";
                break;
            case TransferFault::cancelled:
                verdict.reason = "stopped before the answer";
                verdict.metric = "stopped";
                break;
            case TransferFault::connection:
            case TransferFault::none:
            case TransferFault::other:
            default:
                verdict.reason = "no connection";
                verdict.metric = "no-connection";
                break;
        }
        return verdict;
    }
    const int code = answer->getCode();
    if (code >= 200 && code <= 299) return verdict;
    verdict.reason = formatBounded("answer %d", code);
    if (answer->isRedirect()) {
        // Where it pointed tells the operator which address to configure.
        const std::string& location = answer->getLocation();
        verdict.fate = Fate::waiting;
        verdict.metric = "redirected";
        verdict.reason = location.empty() ? formatBounded("answer %d redirecting nowhere (no Location)", code)
                                          : formatBounded("answer %d redirecting to %s", code, location.c_str());
    } else if (code == 401 || code == 403) {
        // A token being rotated: the backlog waits for the new one.
        verdict.fate = Fate::waiting;
        verdict.metric = "unauthorized";
    } else if (code == 408 || code == 425 || code == 429 || code >= 500) {
        verdict.fate = Fate::waiting;
        verdict.metric = "retry-later";
        if (code == 429 || code == 503) verdict.retryAfterSeconds = answer->getRetryAfter();
    } else {
        verdict.fate = Fate::setAside;
        verdict.metric = "refused";
    }
    return verdict;
}

}  // namespace tarvik
