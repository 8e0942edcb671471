#pragma once

#include <string>
#include <vector>

#include "agi/KestroAgi.h"
#include "fastagi/FastAgiCallRecord.h"

namespace tarvik {

// The real session over a FastAGI connection: the same commands on one
// socket, and, for the service log, the call's identifiers, where it was
// sent and whether Asterisk reported the hang-up.
class FastAgiSession : public KestroAgi {
public:
    FastAgiSession(int socketFd, FastAgiCallRecord& record);
    ~FastAgiSession() override;

    bool goTo(const char* context, const char* extension, const char* priority) override;

    // The AGI() arguments after the script URL: agi_arg_1, agi_arg_2, ...
    // up to the first one missing. They stand where a local AGI has argv.
    static std::vector<std::string> startupArguments(KestroAgiImpl& session);

private:
    FastAgiCallRecord& record;
};

}  // namespace tarvik
