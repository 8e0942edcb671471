#include "fastagi/FastAgiSession.h"

#include "util/BoundedFormat.h"

namespace tarvik {

FastAgiSession::FastAgiSession(int socketFd, FastAgiCallRecord& record) : KestroAgi(socketFd, socketFd), record(record) {
    record.setCaller(getAsteriskVariable("agi_callerid"));
    record.setUniqueId(getAsteriskVariable("agi_uniqueid"));
}

FastAgiSession::~FastAgiSession() { record.setHangupNotified(isHangupNotified()); }

bool FastAgiSession::goTo(const char* context, const char* extension, const char* priority) {
    if (context != nullptr && extension != nullptr && priority != nullptr) {
        record.setDestination(formatBounded("%s,%s,%s", context, extension, priority));
    }
    return KestroAgi::goTo(context, extension, priority);
}

std::vector<std::string> FastAgiSession::startupArguments(KestroAgiImpl& session) {
    std::vector<std::string> arguments;
    for (int index = 1;; ++index) {
        const char* value = session.getAsteriskVariable(formatBounded("agi_arg_%d", index).c_str());
        if (value == nullptr) return arguments;
        arguments.emplace_back(value);
    }
}

}  // namespace tarvik
