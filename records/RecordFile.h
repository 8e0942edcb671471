#pragma once

#include <string>

#include "api/BackOfficeRecord.h"
#include "records/BackOfficeIdentity.h"

namespace tarvik {

// The stored form of a record: one JSON object holding the request (without
// address or token) and the identity of the back office it belongs to.
class RecordFile {
public:
    enum class Reading {
        record,          // a record of a back office (identity filled in)
        notRecord,       // not a stored record at all
        noBackOffice,    // written before records named their back office
        notAnOperation,  // names a request that is no record operation
    };

    static std::string write(const BackOfficeRecord& record, const BackOfficeIdentity& identity);
    static Reading read(const std::string& text, BackOfficeRecord& record, BackOfficeIdentity& identity);

    // The requests a record may be: the remote log, an event, a recall
    // registration, each a POST. Anything else found in a spool (an unlock,
    // say) is never sent with a live token.
    static bool isRecordOperation(int method, const std::string& path);
};

}  // namespace tarvik
