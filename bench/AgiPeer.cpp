#include "bench/AgiPeer.h"

namespace tarvik {

namespace {

const std::size_t kMaxTranscriptLines = 10000;

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// "GET DATA /etc/tarvik/kestro/audios/Orvel-u4-33 5000 1" -> "Orvel-u4-33"
std::string promptName(const std::string& command) {
    std::string rest = command.substr(std::char_traits<char>::length("GET DATA "));
    std::string prompt = rest.substr(0, rest.find(' '));
    std::size_t slash = prompt.rfind('/');
    return slash == std::string::npos ? prompt : prompt.substr(slash + 1);
}

}  // namespace

std::string AgiPeer::startupBlock(const AgiCallIdentity& identity) {
    std::string block;
    block += "agi_request: ivr-orvel\n";
    block += "agi_channel: " + identity.channel + "\n";
    block += "agi_language: pt_BR\n";
    block += "agi_type: PJSIP\n";
    block += "agi_uniqueid: " + identity.uniqueId + "\n";
    block += "agi_version: 22.10.1\n";
    block += "agi_callerid: " + identity.callerId + "\n";
    block += "agi_calleridname: unknown\n";
    block += "agi_callingpres: 0\n";
    block += "agi_callingani2: 0\n";
    block += "agi_callington: 0\n";
    block += "agi_callingtns: 0\n";
    block += "agi_dnid: unknown\n";
    block += "agi_rdnis: unknown\n";
    block += "agi_context: ivr-entry\n";
    block += "agi_extension: s\n";
    block += "agi_priority: 1\n";
    block += "agi_enhanced: 0.0\n";
    block += "agi_accountcode: \n";
    block += "agi_threadid: 140670997956288\n";
    for (std::size_t index = 0; index < identity.arguments.size(); ++index) {
        block += "agi_arg_" + std::to_string(index + 1) + ": " + identity.arguments[index] + "\n";
    }
    block += "\n";
    return block;
}

std::string AgiPeer::consume(const char* bytes, std::size_t size) {
    pending_.append(bytes, size);
    std::string replies;
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        replies += reply(line);
        // A runaway program must not eat the driver's memory; a real call
        // has fewer than a hundred commands.
        if (commands_.size() < kMaxTranscriptLines) {
            commands_.push_back(std::move(line));
        }
    }
    return replies;
}

std::string AgiPeer::reply(const std::string& command) const {
    if (startsWith(command, "VERBOSE")) {
        return "200 result=1\n";
    }
    if (startsWith(command, "GET DATA ")) {
        auto digits = script_.digitsByPrompt.find(promptName(command));
        if (digits == script_.digitsByPrompt.end()) {
            return "200 result= (timeout)\n";
        }
        return "200 result=" + digits->second + "\n";
    }
    return "200 result=0\n";
}

}  // namespace tarvik
