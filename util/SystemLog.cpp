#include "util/SystemLog.h"

#include <syslog.h>

#include <atomic>
#include <cerrno>

namespace tarvik {

namespace {
std::atomic<SystemLog::Sink> replacement{nullptr};
}  // namespace

void SystemLog::write(const char* line) {
    if (line == nullptr) return;
    Sink sink = replacement;
    if (sink != nullptr) {
        sink(line);
        return;
    }
    // Opened on first use, as glibc does, under the program's own name.
    static const bool opened = [] {
        ::openlog(program_invocation_short_name, LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    ::syslog(LOG_INFO, "%s", line);
}

void SystemLog::setSink(Sink sink) { replacement = sink; }

}  // namespace tarvik
