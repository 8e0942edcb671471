#pragma once

#include <map>
#include <string>

namespace tarvik {

// A request whose answer the call does not need: a remote log entry, an
// event or a recall registration. It can wait in the background sender's
// queue or in the spool, so it carries neither the back office's address
// nor the access token: both are taken from the configuration of whoever
// sends it.
struct BackOfficeRecord {
    std::string kind;  // "logger", "event", "recall"
    int method = 1;    // KestroAgiRESTFul::METHOD_*
    std::string path;  // after the base URI, e.g. "/service/v1/logger"
    std::map<std::string, std::string> headers;
    std::string body;
    // The line written when the record cannot be delivered.
    std::string failureText;

    // One JSON object; fromJson is false for anything that is not one.
    std::string toJson() const;
    static bool fromJson(const std::string& text, BackOfficeRecord& record);
};

}  // namespace tarvik
