#include "agi/RecordingSession.h"

#include <cstdarg>
#include <cstring>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

std::string orEmpty(const char* text) { return text == nullptr ? std::string("(null)") : std::string(text); }

constexpr const char* kVerbose = "verbose ";
constexpr std::size_t kVerboseLength = 8;

}  // namespace

bool RecordingSession::record(const std::string& line) {
    log.push_back(line);
    return channel == Channel::call;
}

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

std::vector<std::string> RecordingSession::takeVerboseLines() {
    std::vector<std::string> taken;
    for (; verboseTaken < log.size(); ++verboseTaken) {
        const std::string& line = log[verboseTaken];
        if (line.rfind(kVerbose, 0) == 0) taken.push_back(line.substr(kVerboseLength));
    }
    return taken;
}

bool RecordingSession::setLanguage(const char* language) {
    // Without a call too: the language is the session's own setting.
    record("setLanguage " + orEmpty(language));
    return channel == Channel::none || language != nullptr;
}

void RecordingSession::verbose(const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);
    record(kVerbose + text);
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

bool RecordingSession::answer() { return record("answer"); }

bool RecordingSession::sayDigits(const char* digits) { return record("sayDigits " + orEmpty(digits)) && digits != nullptr; }

bool RecordingSession::sayNumber(const char* number) { return record("sayNumber " + orEmpty(number)) && number != nullptr; }

bool RecordingSession::dial(const char* dialString) {
    return record("dial " + orEmpty(dialString)) && dialString != nullptr;
}

bool RecordingSession::sayTime(const char* time) { return record("sayTime " + orEmpty(time)) && time != nullptr; }

char* RecordingSession::getVariable(const char* name) {
    if (!record("getVariable " + orEmpty(name)) || name == nullptr) return nullptr;
    auto found = asteriskVariables.find(name);
    return found == asteriskVariables.end() ? nullptr : strdup(found->second.c_str());
}

bool RecordingSession::setVariable(const char* name, const char* value) {
    const std::string text = value == nullptr ? std::string() : std::string(value);
    if (!record("setVariable " + orEmpty(name) + " " + text) || name == nullptr) return false;
    setVariables[name] = text;
    return true;
}

bool RecordingSession::transfer(const char* destination) {
    if (destination == nullptr) return false;
    if (!record("transfer " + std::string(destination))) return false;
    setTerminated(true);
    return true;
}

bool RecordingSession::getDtmf(std::string&, int maxDigits, int timeout, char terminator) {
    return record("getDtmf " + std::to_string(maxDigits) + " " + std::to_string(timeout) + " " +
                  std::string(1, terminator));
}

char* RecordingSession::input(const char* name, int maxDigits, int timeoutSeconds, const char* prompt, int attempts) {
    if (name == nullptr) return nullptr;
    if (!record("input " + std::string(name) + " " + std::to_string(maxDigits) + " " + std::to_string(timeoutSeconds) +
                " " + (prompt == nullptr ? std::string() : std::string(prompt)) + " " + std::to_string(attempts))) {
        return nullptr;
    }
    auto& queue = inputs[name];
    if (queue.empty()) {
        ++unanswered;
        return nullptr;
    }
    auto answer = queue.front();
    queue.pop_front();
    return answer.first ? strdup(answer.second.c_str()) : nullptr;
}

// Without a call there is no Asterisk to have a version.
int RecordingSession::getAsteriskVersion() { return channel == Channel::call ? 13 : 0; }

const char* RecordingSession::getAsteriskVariable(const char* name) {
    if (name == nullptr || channel != Channel::call) return nullptr;
    auto found = asteriskVariables.find(name);
    return found == asteriskVariables.end() ? nullptr : found->second.c_str();
}

bool RecordingSession::playback(const char* file) { return record("playback " + orEmpty(file)) && file != nullptr; }

bool RecordingSession::background(const char* file) { return record("background " + orEmpty(file)) && file != nullptr; }

bool RecordingSession::jump(const char* target) {
    if (target == nullptr) return false;
    return goTo(exitContext(), target, "s");
}

bool RecordingSession::goTo(const char* context, const char* extension, const char* priority) {
    if (!record("goTo " + orEmpty(context) + " " + orEmpty(extension) + " " + orEmpty(priority))) return false;
    if (context == nullptr || extension == nullptr || priority == nullptr) return false;
    return !failGoTo;
}

}  // namespace tarvik
