#pragma once

#include <map>
#include <string>

namespace tarvik {

// A request whose answer the caller's path does not need: a remote log
// entry, an event or a recall registration. It may wait in a queue or in
// the spool, so it carries neither the back office's address nor the access
// token: whoever delivers it adds those of the back office it belongs to.
struct BackOfficeRecord {
    std::string kind;  // "logger", "event", "recall"
    int method = 1;    // KestroAgiRESTFul::METHOD_*
    std::string path;  // after the base URI, e.g. "/service/v1/logger"
    std::map<std::string, std::string> headers;
    std::string body;
    // The line written when the record cannot be delivered.
    std::string failureText;
};

}  // namespace tarvik
