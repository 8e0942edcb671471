#include "agi/AGI.h"

#include <csignal>
#include <cctype>

#include "util/StringTools.h"

namespace nanoagi {

namespace {

// "520-..." opens a multi-line reply; its last line starts with "520 ".
bool opensMultiLineReply(const std::string& line) {
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2])) && line[3] == '-';
}

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

AGI::AGI(int inFd, int outFd) : stream(inFd, outFd) {
    // Asterisk closes the pipes when the call ends (AGIEXITONHANGUP): a write
    // must then fail with EPIPE instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Asterisk signals a caller's hang-up with SIGHUP and then answers
    // channel commands with 511. Dying on the signal would lose the back
    // office's records of the call; the flow instead runs to its end on the
    // failed commands, which are all bounded.
    std::signal(SIGHUP, SIG_IGN);
    rcin(environment);
}

bool AGI::cmd(std::string command) { return cmd(std::move(command), true); }

bool AGI::cmd(std::string command, bool) { return wcout(command, responseValue); }

std::string AGI::toCommandLine(const std::string& command) {
    std::string line = command;
    for (char& character : line) {
        if (character == '\r' || character == '\n') character = ' ';
    }
    if (line.size() > kMaxCommandLength) {
        std::size_t cut = kMaxCommandLength;
        // Do not leave half a UTF-8 character at the end.
        while (cut > 0 && isContinuationByte(line[cut])) --cut;
        line.resize(cut);
    }
    return line;
}

bool AGI::readReply(std::string& reply) {
    for (;;) {
        if (!stream.readLine(reply)) return false;
        if (reply != "HANGUP") break;
        hangupNotified = true;
    }

    if (opensMultiLineReply(reply)) {
        std::string lastLinePrefix = reply.substr(0, 3) + " ";
        std::string continuation;
        while (stream.readLine(continuation)) {
            if (continuation.compare(0, lastLinePrefix.size(), lastLinePrefix) == 0) break;
        }
    }
    return true;
}

bool AGI::wcout(std::string& command, std::string& value) {
    answered = false;
    std::string reply;
    if (!stream.writeLine(toCommandLine(command)) || !readReply(reply)) {
        return true;  // Asterisk is gone: an empty reply, which changes nothing
    }
    answered = true;

    if (reply.empty()) return true;
    if (reply[0] == '2') {
        std::size_t equals = reply.find('=');
        if (equals != std::string::npos) value = reply.substr(equals + 1);
        return true;
    }
    if (reply[0] == '5') {
        value = reply.size() > 4 ? reply.substr(4) : std::string();
        errorText = value;
        return false;
    }
    return true;
}

void AGI::rcin(std::map<std::string, std::string>& variables) {
    variables.clear();
    std::string line;
    while (stream.readLine(line) && !line.empty()) {
        split(line, variables);
    }
}

bool AGI::split(std::string& line, std::map<std::string, std::string>& variables) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    std::string value = line.substr(colon + 1);
    trim(value);
    variables[line.substr(0, colon)] = value;
    return true;
}

void AGI::trim(std::string& text) { tarvik::StringTools::trim(text); }

}  // namespace nanoagi
