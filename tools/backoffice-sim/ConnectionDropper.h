#pragma once

#include <httplib.h>

namespace tarvik {

// Hangs up on a request's client without an answer: finds the socket of the
// request's connection (by its two addresses) and shuts it down. The server
// still owns and closes the descriptor. False when no socket matched.
class ConnectionDropper {
public:
    static bool drop(const httplib::Request& request);
};

}  // namespace tarvik
