#pragma once

#include <string>
#include <vector>

#include <json/json.h>

#include "model/ISPClient.h"
#include "model/ISPInvoice.h"
#include "model/ISPSignature.h"

namespace tarvik {

// Turns the back office's client document into the customer records. The
// reading is lenient: a key counts only when present with the expected JSON
// type, unknown keys are ignored and a broken array element is skipped
// without spoiling its siblings. Each operation returns a new record the
// caller owns, or null (input not an object: silently; a failure while
// building: its message is added to `failures`).
class CustomerJsonMapping {
public:
    static ISPInvoice* toInvoice(std::vector<std::string>& failures, const Json::Value& value);
    static ISPSignature* toSignature(std::vector<std::string>& failures, const Json::Value& value);
    static ISPClient* toClient(std::vector<std::string>& failures, const Json::Value& value);

    // Seconds since the epoch of local midnight of the "year-month-day"
    // date that begins the text; anything after the tenth character is
    // ignored. ISPInvoice::kNoDueDate when the text does not begin with
    // such a date.
    static long toLocalMidnight(const std::string& text);
};

}  // namespace tarvik
