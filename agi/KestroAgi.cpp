#include "agi/KestroAgi.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "agi/KestroAgiException.h"
#include "util/BoundedFormat.h"
#include "util/CText.h"
#include "util/StringTools.h"

namespace tarvik {

namespace {

constexpr const char* kVerbosePrefix = "VERBOSE \"";
constexpr const char* kNoopPrefix = "EXEC NoOp \"";
constexpr const char* kQuotedSuffix = "\" 1";

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Escapes backslashes and double quotes so the message stays one quoted
// argument, keeping at most `room` bytes: an escape pair or a UTF-8
// character is never cut in half.
std::string escapeQuoted(const std::string& message, std::size_t room) {
    std::string escaped;
    for (std::size_t index = 0; index < message.size(); ++index) {
        char character = message[index];
        bool needsEscape = character == '\\' || character == '"';
        if (escaped.size() + (needsEscape ? 2 : 1) > room) {
            if (isContinuationByte(character)) {
                while (!escaped.empty() && isContinuationByte(escaped.back())) escaped.pop_back();
                if (!escaped.empty()) escaped.pop_back();  // the lead byte
            }
            break;
        }
        if (needsEscape) escaped += '\\';
        escaped += character;
    }
    return escaped;
}

std::vector<std::string> splitAtSpaces(const std::string& text) {
    std::vector<std::string> tokens;
    std::size_t begin = 0;
    for (;;) {
        std::size_t space = text.find(' ', begin);
        tokens.push_back(text.substr(begin, space == std::string::npos ? std::string::npos : space - begin));
        if (space == std::string::npos) return tokens;
        begin = space + 1;
    }
}

std::string stripped(const std::string& token) {
    std::string text = token;
    StringTools::trim(text, " ()");
    return text;
}

// Reads "1 (some value)"-style reply values; see evaluate.
void parseReplyValue(const std::string& value, KestroAgiResponse& response) {
    if (value.find(' ') == std::string::npos) {
        response.setData(value.c_str());
        response.setCode(0);
        return;
    }
    if (value.find(" (timeout)") != std::string::npos) {
        std::string digits = value.substr(0, value.find('('));
        StringTools::trim(digits);
        response.setData(digits.c_str());
        response.setCode(0);
        return;
    }

    std::string first = stripped(value.substr(0, 1));
    if (first == "-") throw KestroAgiException(400, "Multiline response is not supported yet");
    response.setCode(!first.empty() && std::isdigit(static_cast<unsigned char>(first[0])) ? first[0] - '0' : 0);

    std::string output;
    bool insideParentheses = false;
    for (const std::string& token : splitAtSpaces(value.substr(1))) {
        if (token.empty()) continue;
        if (insideParentheses || token[0] == '(') {
            output += ' ' + stripped(token);
            insideParentheses = token.back() != ')';
        } else if (token.find('=') != std::string::npos) {
            throw KestroAgiException(400, "Response set value not supporter yet");
        } else {
            output += token;
        }
    }
    StringTools::trim(output);
    response.setData(output.c_str());
}

// WAIT FOR DIGIT answers with the decimal code of the key: 0 after a
// timeout, -1 on failure. Only a real key code gives a character.
bool keyFromReply(const std::string& value, char& key) {
    const char* text = value.c_str();
    char* end = nullptr;
    long code = std::strtol(text, &end, 10);
    if (end == text || code <= 0 || code > UCHAR_MAX) return false;
    key = static_cast<char>(code);
    return true;
}

}  // namespace

KestroAgi::KestroAgi(int inFd, int outFd) : nanoagi::AGI(inFd, outFd) {}

KestroAgi::~KestroAgi() { setTerminated(true); }

bool KestroAgi::exec(const char* format, ...) {
    if (format == nullptr) return false;
    va_list arguments;
    va_start(arguments, format);
    std::string command = formatBoundedV(format, arguments);
    va_end(arguments);
    return cmd(command);
}

KestroAgiResponse* KestroAgi::evaluate(const char* format, ...) {
    if (format == nullptr) return nullptr;
    va_list arguments;
    va_start(arguments, format);
    std::string command = formatBoundedV(format, arguments);
    va_end(arguments);
    return evaluateLine(command);
}

KestroAgiResponse* KestroAgi::evaluateLine(const std::string& command) {
    auto response = std::make_unique<KestroAgiResponse>();
    // The value must come from this reply, never from an earlier command.
    clearResponseValue();
    bool accepted = cmd(command);
    bool answered = lastCommandAnswered();
    response->setSuccess(accepted && answered);

    // The log line is a command too and replaces the kept value: parse the
    // copy taken before it.
    std::string value = getResponseValue();
    verbose("Real Asterisk Data Received:[%s]", value.c_str());

    // A 5xx reply carries an error text, and no reply carries nothing:
    // neither holds data to hand out.
    if (accepted && answered) parseReplyValue(value, *response);
    return response.release();
}

char* KestroAgi::fetch(const char* name, const std::string& command, bool isVariable) {
    std::unique_ptr<KestroAgiResponse> response(evaluateLine(command));
    const char* data = response->getData();
    // "200 result=0" answers GET VARIABLE for an unset variable (a set one
    // gives "1 (value)"); "-1" answers GET DATA when it failed.
    if (data != nullptr && isVariable && response->getCode() != 1) data = nullptr;
    if (data != nullptr && !isVariable && std::strcmp(data, "-1") == 0) data = nullptr;

    if (data == nullptr) {
        verbose("Failure on get from asterisk variable: %s", name);
        return nullptr;
    }
    std::string text = data;
    std::size_t open = text.find('(');
    if (isVariable && open != std::string::npos) {
        std::size_t close = text.find(')', open + 1);
        text = text.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    char* copy = duplicateText(text.c_str());
    verbose("Success on get from asterisk variable: %s -> %s", name, copy);
    return copy;
}

void KestroAgi::sendQuoted(const char* prefix, const char* format, va_list arguments) {
    if (format == nullptr) return;
    std::string message = formatBoundedV(format, arguments);
    std::size_t room = kMaxCommandLength - std::strlen(prefix) - std::strlen(kQuotedSuffix);
    cmd(prefix + escapeQuoted(message, room) + kQuotedSuffix);
}

void KestroAgi::verbose(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    sendQuoted(kVerbosePrefix, format, arguments);
    va_end(arguments);
}

void KestroAgi::noop(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    sendQuoted(kNoopPrefix, format, arguments);
    va_end(arguments);
}

bool KestroAgi::setLanguage(const char* language) {
    if (language == nullptr) {
        verbose("Failure on set language, language is null");
        return false;
    }
    verbose("Changing language to %s", language);
    return exec("EXEC Set CHANNEL(language)=%s", language);
}

void KestroAgi::hangup() { exec("HANGUP"); }

bool KestroAgi::answer() {
    verbose("Answer");
    return exec("ANSWER");
}

bool KestroAgi::sayDigits(const char* digits) {
    return digits != nullptr && exec("SAY DIGITS %s #", digits);
}

bool KestroAgi::sayNumber(const char* number) {
    return number != nullptr && exec("SAY NUMBER %s #", number);
}

bool KestroAgi::dial(const char* dialString) {
    return dialString != nullptr && exec("EXEC DIAL %s", dialString);
}

bool KestroAgi::sayTime(const char* time) {
    if (time == nullptr) return false;
    if (strcasecmp(time, "NOW") == 0) {
        return exec("SAY TIME %lld #", static_cast<long long>(std::time(nullptr)));
    }
    return exec("SAY TIME %s #", time);
}

char* KestroAgi::getVariable(const char* name) {
    if (name == nullptr) return nullptr;
    return fetch(name, formatBounded("GET VARIABLE %s", name), true);
}

bool KestroAgi::setVariable(const char* name, const char* value) {
    if (name == nullptr) return false;
    return exec("EXEC Set %s=%s", name, value != nullptr ? value : "");
}

bool KestroAgi::transfer(const char* destination) {
    if (destination == nullptr) return false;
    setTerminated(true);
    return exec("EXEC Transfer %s", destination);
}

bool KestroAgi::getDtmf(std::string& digits, int maxDigits, int timeout, char terminator) {
    std::string collected;
    char last = static_cast<char>(-1);
    while ((maxDigits < 0 || collected.size() < static_cast<std::size_t>(maxDigits)) && last != terminator) {
        clearResponseValue();
        bool accepted = exec("WAIT FOR DIGIT %d", timeout);
        // A refused command, no reply, a timeout or a failure ends the
        // collection unfinished: the caller gets what came so far.
        if (!accepted || !lastCommandAnswered() || !keyFromReply(getResponseValue(), last)) {
            digits = collected;
            return false;
        }
        if (last == terminator) break;
        collected += last;
        if (collected.size() == kMaxDtmfDigits) {
            digits = collected;
            return false;
        }
    }
    digits = collected;
    noop("%s", collected.c_str());
    return true;
}

char* KestroAgi::input(const char* name, int maxDigits, int timeoutSeconds, const char* prompt, int) {
    if (name == nullptr) return nullptr;
    // Asterisk collapses runs of spaces, so an empty prompt must be "".
    const char* shownPrompt = (prompt == nullptr || *prompt == '\0') ? "\"\"" : prompt;
    std::string command = formatBounded("GET DATA %s %lld %d", shownPrompt,
                                        static_cast<long long>(timeoutSeconds) * 1000, maxDigits);
    return fetch(name, command, false);
}

int KestroAgi::getAsteriskVersion() {
    const char* version = getAsteriskVariable("agi_version");
    if (version == nullptr) return 1;
    if (*version == '\0') return 0;
    if (!std::isdigit(static_cast<unsigned char>(*version))) return kUnnumberedVersion;

    char* end = nullptr;
    long major = std::strtol(version, &end, 10);
    if (major > 1) return major > INT_MAX ? INT_MAX : static_cast<int>(major);
    // The 1.x series counts by its minor number: 1.8 is "8".
    if (*end == '.' && std::isdigit(static_cast<unsigned char>(end[1]))) {
        long minor = std::strtol(end + 1, nullptr, 10);
        return minor > INT_MAX ? INT_MAX : static_cast<int>(minor);
    }
    return static_cast<int>(major);
}

const char* KestroAgi::getAsteriskVariable(const char* name) {
    if (name == nullptr) return nullptr;
    auto found = getEnvironment().find(name);
    return found == getEnvironment().end() ? nullptr : found->second.c_str();
}

bool KestroAgi::playback(const char* file) {
    if (file == nullptr) return false;
    verbose("Playback: %s", file);
    return exec("EXEC Playback \"%s\"", file);
}

bool KestroAgi::background(const char* file) {
    if (file == nullptr) return false;
    verbose("Background: %s", file);
    return exec("EXEC Background \"%s\"", file);
}

bool KestroAgi::jump(const char* target) {
    if (target == nullptr) return false;
    return goTo(exitContext(), target, "s");
}

bool KestroAgi::goTo(const char* context, const char* extension, const char* priority) {
    if (context == nullptr || extension == nullptr || priority == nullptr) return false;
    char separator = getAsteriskVersion() < 6 ? '|' : ',';
    return exec("EXEC Goto %s%c%s%c%s", context, separator, extension, separator, priority);
}

}  // namespace tarvik
