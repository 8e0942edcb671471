#include "check/CheckSession.h"

#include <cstdarg>

#include "util/BoundedFormat.h"

namespace tarvik {

std::vector<std::string> CheckSession::takeLines() {
    std::vector<std::string> taken;
    taken.swap(lines);
    return taken;
}

bool CheckSession::setLanguage(const char*) { return true; }

void CheckSession::verbose(const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    lines.push_back(formatBoundedV(format, arguments));
    va_end(arguments);
}

void CheckSession::hangup() {}
bool CheckSession::answer() { return false; }
bool CheckSession::sayDigits(const char*) { return false; }
bool CheckSession::sayNumber(const char*) { return false; }
bool CheckSession::dial(const char*) { return false; }
bool CheckSession::sayTime(const char*) { return false; }
char* CheckSession::getVariable(const char*) { return nullptr; }
bool CheckSession::setVariable(const char*, const char*) { return false; }
bool CheckSession::transfer(const char*) { return false; }
bool CheckSession::getDtmf(std::string&, int, int, char) { return false; }
char* CheckSession::input(const char*, int, int, const char*, int) { return nullptr; }
void CheckSession::noop(const char*, ...) {}
int CheckSession::getAsteriskVersion() { return 0; }
const char* CheckSession::getAsteriskVariable(const char*) { return nullptr; }
bool CheckSession::playback(const char*) { return false; }
bool CheckSession::background(const char*) { return false; }
bool CheckSession::jump(const char*) { return false; }
bool CheckSession::goTo(const char*, const char*, const char*) { return false; }

}  // namespace tarvik
