#include "tests/support/RecordingSession.h"

#include <cstdarg>
#include <cstring>

#include "util/BoundedFormat.h"

namespace tarvik::testing {

namespace {
std::string orEmpty(const char* text) { return text == nullptr ? std::string("(null)") : std::string(text); }
}  // namespace

void RecordingSession::queueInput(const std::string& name, const std::string& answer) {
    inputs[name].emplace_back(true, answer);
}

void RecordingSession::queueNoAnswer(const std::string& name) { inputs[name].emplace_back(false, std::string()); }

void RecordingSession::setAsteriskVariable(const std::string& name, const std::string& value) {
    asteriskVariables[name] = value;
}

std::vector<std::string> RecordingSession::operationsNamed(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& line : log) {
        if (line == name || line.rfind(name + " ", 0) == 0) out.push_back(line);
    }
    return out;
}

std::vector<std::string> RecordingSession::callSteps() const {
    std::vector<std::string> out;
    for (const auto& line : log) {
        if (line.rfind("verbose ", 0) == 0 || line == "verbose" || line.rfind("noop ", 0) == 0 || line == "noop") continue;
        out.push_back(line);
    }
    return out;
}

bool RecordingSession::setLanguage(const char* language) {
    record("setLanguage " + orEmpty(language));
    return language != nullptr;
}

void RecordingSession::verbose(const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);
    record("verbose " + text);
}

void RecordingSession::noop(const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);
    record("noop " + text);
}

void RecordingSession::hangup() { record("hangup"); }

bool RecordingSession::answer() {
    record("answer");
    return true;
}

bool RecordingSession::sayDigits(const char* digits) {
    record("sayDigits " + orEmpty(digits));
    return digits != nullptr;
}

bool RecordingSession::sayNumber(const char* number) {
    record("sayNumber " + orEmpty(number));
    return number != nullptr;
}

bool RecordingSession::dial(const char* dialString) {
    record("dial " + orEmpty(dialString));
    return dialString != nullptr;
}

bool RecordingSession::sayTime(const char* time) {
    record("sayTime " + orEmpty(time));
    return time != nullptr;
}

char* RecordingSession::getVariable(const char* name) {
    record("getVariable " + orEmpty(name));
    if (name == nullptr) return nullptr;
    auto found = asteriskVariables.find(name);
    return found == asteriskVariables.end() ? nullptr : strdup(found->second.c_str());
}

bool RecordingSession::setVariable(const char* name, const char* value) {
    record("setVariable " + orEmpty(name) + " " + (value == nullptr ? std::string() : std::string(value)));
    if (name == nullptr) return false;
    setVariables[name] = value == nullptr ? std::string() : std::string(value);
    return true;
}

bool RecordingSession::transfer(const char* destination) {
    if (destination == nullptr) return false;
    setTerminated(true);
    record("transfer " + std::string(destination));
    return true;
}

bool RecordingSession::getDtmf(std::string&, int maxDigits, int timeout, char terminator) {
    record("getDtmf " + std::to_string(maxDigits) + " " + std::to_string(timeout) + " " + std::string(1, terminator));
    return true;
}

char* RecordingSession::input(const char* name, int maxDigits, int timeoutSeconds, const char* prompt, int attempts) {
    if (name == nullptr) return nullptr;
    record("input " + std::string(name) + " " + std::to_string(maxDigits) + " " + std::to_string(timeoutSeconds) + " " +
           (prompt == nullptr ? std::string() : std::string(prompt)) + " " + std::to_string(attempts));
    auto& queue = inputs[name];
    if (queue.empty()) {
        ++unanswered;
        return nullptr;
    }
    auto answer = queue.front();
    queue.pop_front();
    return answer.first ? strdup(answer.second.c_str()) : nullptr;
}

int RecordingSession::getAsteriskVersion() { return 13; }

const char* RecordingSession::getAsteriskVariable(const char* name) {
    if (name == nullptr) return nullptr;
    auto found = asteriskVariables.find(name);
    return found == asteriskVariables.end() ? nullptr : found->second.c_str();
}

bool RecordingSession::playback(const char* file) {
    record("playback " + orEmpty(file));
    return file != nullptr;
}

bool RecordingSession::background(const char* file) {
    record("background " + orEmpty(file));
    return file != nullptr;
}

bool RecordingSession::jump(const char* target) {
    if (target == nullptr) return false;
    const char* context = getDefaultContext() != nullptr ? getDefaultContext() : kFallbackContext;
    return goTo(context, target, "s");
}

bool RecordingSession::goTo(const char* context, const char* extension, const char* priority) {
    record("goTo " + orEmpty(context) + " " + orEmpty(extension) + " " + orEmpty(priority));
    if (context == nullptr || extension == nullptr || priority == nullptr) return false;
    return !failGoTo;
}

}  // namespace tarvik::testing
