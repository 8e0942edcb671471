#pragma once

#include <string>

namespace tarvik::testing {

// A port on 127.0.0.1 that is bound but never listens while this object
// lives: connecting to it is refused at once, so a back office "down" fails
// a request without waiting.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int port() const { return portNumber; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(portNumber); }

private:
    int socketFd;
    int portNumber = 0;
};

}  // namespace tarvik::testing
