#pragma once

#include "records/BackOfficeKeys.h"

namespace tarvik {

class Configuration;

// The status of the back office's answer to a readiness request made as a
// call makes it (same address, token, headers and limits), for telling a
// refused token from a back office that is not ready.
class ReadinessAnswer {
public:
    // The answer's status code, or 0 when none came.
    static int status(Configuration& configuration, const BackOfficeKeys& keys);
    // True for the answers that refuse the request's credentials.
    static bool refusesToken(int status) { return status == 401 || status == 403; }
};

}  // namespace tarvik
