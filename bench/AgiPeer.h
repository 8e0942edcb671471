#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarvik {

// What the simulated Asterisk says during a call: the keys "typed" at each
// question, found by the question's prompt name (the wire carries the
// prompt, not the input name).
struct AgiScript {
    std::map<std::string, std::string> digitsByPrompt;
};

// The identifiers Asterisk hands a call in its start-up block.
struct AgiCallIdentity {
    std::string callerId;
    std::string uniqueId;
    std::string channel;
    std::vector<std::string> arguments;  // agi_arg_1..N
};

// Plays Asterisk for one call: takes the bytes the program writes, answers
// each complete command line and keeps the commands as the call's transcript.
class AgiPeer {
public:
    explicit AgiPeer(const AgiScript& script) : script_(script) {}

    // The start-up block Asterisk 22 writes before the first command.
    static std::string startupBlock(const AgiCallIdentity& identity);

    // Takes program output; returns the replies for the lines it completed.
    std::string consume(const char* bytes, std::size_t size);

    // The reply Asterisk would give: VERBOSE 1, GET DATA the scripted digits
    // (a timeout without digits when the prompt is not scripted), else 0.
    std::string reply(const std::string& command) const;

    const std::vector<std::string>& commands() const { return commands_; }

private:
    const AgiScript& script_;
    std::string pending_;
    std::vector<std::string> commands_;
};

}  // namespace tarvik
