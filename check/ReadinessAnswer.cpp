#include "check/ReadinessAnswer.h"

#include <algorithm>
#include <exception>

#include "api/ApiRequest.h"
#include "api/BackOfficeTable.h"

namespace tarvik {

int ReadinessAnswer::status(Configuration& configuration, const BackOfficeKeys& keys) {
    // The readiness request's own limit bounds the whole exchange, as in a call.
    KestroAgiRESTFul::TransferOptions options;
    options.connectSeconds = std::min(keys.connectSeconds, keys.readySeconds);
    options.totalSeconds = std::min(keys.totalSeconds, keys.readySeconds);
    options.verifyTls = keys.verifyTls;
    options.caFile = keys.caFile;
    try {
        ApiRequest request(configuration, options, BackOfficeTable::row(BackOfficeTable::Operation::ready));
        request.addLumoraHeader();
        request.prepare(BackOfficeTable::path(BackOfficeTable::Operation::ready, configuration));
        ApiRequest::Result answer = request.send();
        return answer ? answer->getCode() : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace tarvik
