#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvik::testing {

// Sends exactly `bytes` to 127.0.0.1:port and reads until the server closes
// (bounded by `limit`): the whole answer, or "" when nothing came.
std::string rawHttpExchange(std::uint16_t port, const std::string& bytes,
                            std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// GET of a path: the status code (0 when no answer) and the body.
struct HttpAnswer {
    int status = 0;
    std::string body;
};
HttpAnswer httpGet(std::uint16_t port, const std::string& path);

}  // namespace tarvik::testing
