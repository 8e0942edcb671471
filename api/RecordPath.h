#pragma once

#include <string>
#include <vector>

#include "api/BackOfficeRecord.h"
#include "api/KestroAgiDataSourceResult.h"
#include "api/KestroAgiRESTFul.h"

namespace tarvik {

// Where the back-office client hands the records of a call (implemented by
// the records library, above this one). Its connection, time limits and
// failures are its own: nothing done here touches the caller's path.
class RecordPath {
public:
    // The record travels beside the call; the call never waits for it.
    virtual void send(BackOfficeRecord record) = 0;
    // A record that went on the caller's path got `answer` (null: no answer,
    // for the reason `fault`): one the back office did not take waits for a
    // later try or is set aside.
    virtual void settle(const BackOfficeRecord& record, const KestroAgiDataSourceResult* answer,
                        TransferFault fault) = 0;
    // Lines about records not delivered, each given once, for the call's log.
    virtual std::vector<std::string> takeNotices() = 0;

protected:
    ~RecordPath() = default;
};

}  // namespace tarvik
