#include "records/ClaimMarker.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "util/BoundedFormat.h"

namespace tarvik {

const char* const ClaimMarker::kPrefix = ".claimed-";

unsigned long long ClaimMarker::startTime(long pid) {
    // Read with plain calls: the process may vanish while it is read.
    const std::string path = formatBounded("/proc/%ld/stat", pid);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[1024];
    ssize_t got;
    do {
        got = ::read(fd, text, sizeof(text) - 1);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0) return 0;
    text[got] = '\0';
    // The command name may hold spaces and parentheses: count from the last ')'.
    const char* field = std::strrchr(text, ')');
    if (field == nullptr) return 0;
    // Fields after the name start at 3 (state); the start time is field 22.
    for (int number = 2; number < 22 && field != nullptr; ++number) field = std::strchr(field + 1, ' ');
    return field == nullptr ? 0 : std::strtoull(field + 1, nullptr, 10);
}

std::string ClaimMarker::own() {
    // Read once per thread and process id (a forked child has its own).
    thread_local long cachedPid = 0;
    thread_local std::string marker;
    const long pid = static_cast<long>(::getpid());
    if (pid != cachedPid) {
        marker = formatBounded("%s%ld-%llu", kPrefix, pid, startTime(pid));
        cachedPid = pid;
    }
    return marker;
}

bool ClaimMarker::ownerIsGone(const std::string& marker) {
    const std::size_t prefix = std::strlen(kPrefix);
    if (marker.compare(0, prefix, kPrefix) != 0) return false;
    char* end = nullptr;
    const long pid = std::strtol(marker.c_str() + prefix, &end, 10);
    if (pid <= 0) return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    if (end == nullptr || *end != '-') return false;
    const unsigned long long written = std::strtoull(end + 1, nullptr, 10);
    if (written == 0) return false;
    // Alive under that id: the claim is still held only by the same process.
    return startTime(pid) != written;
}

}  // namespace tarvik
