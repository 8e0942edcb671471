#pragma once

#include <string>

namespace tarvik {

// The name a back-office request is counted under, from its URL: a fixed
// word per operation, never anything of the caller (numbers and documents
// are part of some paths).
class BackOfficeOperation {
public:
    // "ready", "find_by_phone", "find_by_document", "unlock", "send_invoice",
    // "protocol", "external_protocol", "identification", "recall_search",
    // "recall_register", "event", "log", or "other".
    static std::string fromUrl(const std::string& url);
};

}  // namespace tarvik
