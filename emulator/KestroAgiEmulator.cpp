#include "emulator/KestroAgiEmulator.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "util/BoundedFormat.h"
#include "util/CText.h"
#include "util/StringTools.h"

namespace tarvik {

namespace {

// A null text is printed as the empty text, so the line keeps its shape.
std::string text(const char* value) { return value == nullptr ? std::string() : std::string(value); }

std::string line(const char* operation, std::initializer_list<std::string> arguments) {
    std::string out(operation);
    for (const std::string& argument : arguments) {
        out += ' ';
        out += argument;
    }
    return out;
}

}  // namespace

KestroAgiEmulator::KestroAgiEmulator() = default;

KestroAgiEmulator::~KestroAgiEmulator() { setTerminated(true); }

bool KestroAgiEmulator::loadRobot(const char* file) { return robot.load(file); }

void KestroAgiEmulator::printLine(const std::string& out) {
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool KestroAgiEmulator::setLanguage(const char* language) {
    printLine(line("setLanguage", {text(language)}));
    return true;
}

void KestroAgiEmulator::verbose(const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string message = formatBoundedV(format, arguments);
    va_end(arguments);
    printLine(line("verbose", {message}));
}

void KestroAgiEmulator::hangup() { printLine("hangup"); }

bool KestroAgiEmulator::answer() {
    printLine("answer");
    return true;
}

bool KestroAgiEmulator::sayDigits(const char* digits) {
    printLine(line("sayDigits", {text(digits)}));
    return true;
}

bool KestroAgiEmulator::sayNumber(const char* number) {
    printLine(line("sayNumber", {text(number)}));
    return true;
}

bool KestroAgiEmulator::dial(const char* dialString) {
    if (dialString == nullptr) return false;
    printLine(line("dial", {dialString}));
    return true;
}

bool KestroAgiEmulator::sayTime(const char* time) {
    printLine(line("sayTime", {text(time)}));
    return true;
}

char* KestroAgiEmulator::getVariable(const char* name) {
    printLine(line("getVariable", {text(name)}));
    return duplicateText(getAsteriskVariable(name));
}

bool KestroAgiEmulator::setVariable(const char* name, const char* value) {
    printLine(line("setVariable", {text(name), text(value)}));
    return true;
}

bool KestroAgiEmulator::transfer(const char* destination) {
    setTerminated(true);
    printLine(line("transfer", {text(destination)}));
    return true;
}

bool KestroAgiEmulator::getDtmf(std::string&, int maxDigits, int timeout, char terminator) {
    printLine(line("getDtmf", {std::to_string(maxDigits), std::to_string(timeout), std::string(1, terminator)}));
    return true;
}

char* KestroAgiEmulator::input(const char* name, int maxDigits, int timeoutSeconds, const char* prompt, int attempts) {
    if (name == nullptr) return nullptr;
    printLine(line("input", {name, std::to_string(maxDigits), std::to_string(timeoutSeconds), text(prompt),
                             std::to_string(attempts)}));
    const char* value = robot.getVariableValue(name);
    if (value == nullptr) {
        verbose("Failure on get from robot variable: %s", name);
        return nullptr;
    }
    verbose("Success on get from robot variable: %s -> %s", name, value);
    return duplicateText(value);
}

void KestroAgiEmulator::noop(const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string message = formatBoundedV(format, arguments);
    va_end(arguments);
    printLine("noop" + message);
}

int KestroAgiEmulator::getAsteriskVersion() { return kAsteriskVersion; }

const char* KestroAgiEmulator::getAsteriskVariable(const char* name) {
    if (name == nullptr) return nullptr;
    printLine(line("getAsteriskVariable", {name}));
    std::string key(name);
    StringTools::trim(key);
    return robot.getAsteriskVariableValue(key.c_str());
}

bool KestroAgiEmulator::playback(const char* file) {
    printLine(line("playback", {text(file)}));
    return true;
}

bool KestroAgiEmulator::background(const char* file) {
    printLine(line("background", {text(file)}));
    return true;
}

bool KestroAgiEmulator::jump(const char* target) {
    if (target == nullptr) return false;
    printLine(line("jump", {target}));
    return goTo(exitContext(), target, "s");
}

bool KestroAgiEmulator::goTo(const char* context, const char* extension, const char* priority) {
    if (context == nullptr || extension == nullptr || priority == nullptr) return false;
    printLine(line("goTo", {context, extension, priority}));
    return true;
}

}  // namespace tarvik
