#include "runner/IModuleIvr.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "util/BoundedFormat.h"
#include "util/Clock.h"

namespace tarvik {

IModuleIvr::IModuleIvr(const char* name) : name(duplicateText(name)) {}

IModuleIvr::~IModuleIvr() = default;

void IModuleIvr::onReadArgument(const char*) {}

void IModuleIvr::rename(const char* newName) { setName(newName); }

void IModuleIvr::onCallHandedBack() {}

void IModuleIvr::onCallEndedWithoutHandBack() { onCallHandedBack(); }

void IModuleIvr::setName(const char* newName) { name.reset(duplicateText(newName)); }

void IModuleIvr::urlFormat(std::string& out, const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    out = formatBoundedV(format, arguments);
    va_end(arguments);
}

void IModuleIvr::logger(KestroAgiImpl& session, const char* path, const char* format, ...) {
    if (path == nullptr || format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);

    // O_APPEND with one write per record: records of concurrent calls
    // appending to the same file never interleave.
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        session.verbose("logger: failure on open to write %s, %s", path, std::strerror(errno));
        return;
    }
    ssize_t written = 0;
    if (!text.empty()) {
        do {
            written = ::write(fd, text.data(), text.size());
        } while (written < 0 && errno == EINTR);
    }
    ::close(fd);
    if (written < 0 || static_cast<std::size_t>(written) < text.size()) {
        session.verbose("logger: failure on write in %s, %s", path, text.c_str());
    }
}

namespace {

int secondsOfDay(long long hours, long long minutes, long long seconds) {
    long long total = hours * 3600 + minutes * 60 + seconds;
    // Fields beyond what fits an int are an unusable text, not an overflow.
    return total > INT_MAX ? 0 : static_cast<int>(total);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Three runs of digits joined by colons and nothing else ("8:30:00"), read
// by hand: compiling a regular expression for every look cost more than the
// rest of a call's time checks.
bool matchesClockTime(const char* text) {
    for (int field = 0; field < 3; ++field) {
        if (field > 0 && *text++ != ':') return false;
        if (!isDigit(*text)) return false;
        while (isDigit(*text)) ++text;
    }
    return *text == '\0';
}

// One decimal field of a clock time; false when it does not fit an int.
bool readField(const char*& cursor, long long& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(cursor, &end, 10);
    if (errno == ERANGE || value > INT_MAX) return false;
    cursor = (*end == ':') ? end + 1 : end;
    return true;
}

}  // namespace

int IModuleIvr::time2Int(const char* text) {
    if (text == nullptr) return 0;
    if (strcasecmp(text, "now") == 0) {
        std::time_t now = Clock::now();
        std::tm local{};
        if (localtime_r(&now, &local) == nullptr) return 0;
        return secondsOfDay(local.tm_hour, local.tm_min, local.tm_sec);
    }
    if (!matchesClockTime(text)) return 0;
    const char* cursor = text;
    long long hours = 0, minutes = 0, seconds = 0;
    if (!readField(cursor, hours) || !readField(cursor, minutes) || !readField(cursor, seconds)) return 0;
    return secondsOfDay(hours, minutes, seconds);
}

}  // namespace tarvik
