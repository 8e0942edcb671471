#pragma once

#include <string>

namespace tarvik {

// Hands a call's connected socket from the service to a call process over
// a Unix socket pair (SCM_RIGHTS), with a short text beside it (the peer).
class DescriptorPassing {
public:
    // False when the message could not be sent; the caller still owns fd.
    static bool send(int channel, int fd, const std::string& text);
    // Blocks for the next message: the received descriptor (the caller owns
    // it) and its text; -1 at the end of the channel or on a message
    // without a descriptor.
    static int receive(int channel, std::string& text);
};

}  // namespace tarvik
