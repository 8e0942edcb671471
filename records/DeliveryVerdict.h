#pragma once

#include <string>

#include "api/KestroAgiDataSourceResult.h"
#include "api/KestroAgiRESTFul.h"

namespace tarvik {

// What the back office's answer means for a record:
//   2xx                                          delivered: the record is done
//   no connection, time-out, 408, 425, 429, 5xx,
//   401, 403                                     waiting: tried again later
//   3xx (a redirect, which a record never        waiting: until the address
//   follows)                                     is put right
//   any other answer                             set aside, never sent again
// A 429 or 503 with Retry-After also says how long to leave the back office
// alone (at most KestroAgiDataSourceResult::kMaxRetryAfterSeconds).
struct DeliveryVerdict {
    enum class Fate { delivered, waiting, setAside };

    Fate fate = Fate::delivered;
    // For the operator: "answer 429", "time-out", "no connection", ...
    std::string reason;
    // A short fixed name for counting: "no-connection", "time-out",
    // "stopped", "retry-later", "unauthorized", "redirected", "refused".
    const char* metric = "";
    long retryAfterSeconds = 0;

    static DeliveryVerdict judge(const KestroAgiDataSourceResult* answer, TransferFault fault);
};

}  // namespace tarvik
