#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {

// Plays Asterisk's side of one FastAGI call over TCP to 127.0.0.1: connects,
// writes the start-up block (agi_network first, as Asterisk does, and the
// AGI() arguments as agi_arg_N), then answers each command line until the
// service closes the connection.
//
// Replies: the hang-up simulation first (the n-th command gets
// "200 result=-1" followed by the unsolicited "HANGUP" line, later channel
// commands get 511), then the script, then ScriptedAsteriskPeer's default.
// The whole call is bounded by a deadline; nothing is reported to gtest
// here, the result says what happened.
class FastAgiClient {
public:
    using Script = std::function<std::string(const std::string& command)>;
    using Variables = std::vector<std::pair<std::string, std::string>>;

    struct Result {
        bool connected = false;
        bool timedOut = false;
        bool closedByService = false;  // the service closed the connection
        std::vector<std::string> commands;
        std::string failure;  // the client's own problems (empty when none)
    };

    explicit FastAgiClient(std::uint16_t port);

    // Asterisk 22's network start-up block for AGI(agi://.../script,args...).
    static Variables networkStartup(const std::string& script, const std::vector<std::string>& arguments);

    void setArguments(const std::vector<std::string>& arguments);
    void setStartupVariable(const std::string& key, const std::string& value);
    // Exact bytes to send first instead of the block.
    void setStartupRaw(const std::string& bytes);
    void setScript(Script newScript) { script = std::move(newScript); }
    void hangUpAtCommand(std::size_t n) { hangupAt = n; }
    void setDeadline(std::chrono::milliseconds limit) { deadline = limit; }

    Result run();

    // Connects only; -1 on failure. For tests that drive the socket by hand.
    static int connectTo(std::uint16_t port, std::chrono::milliseconds limit);

private:
    std::string reply(const std::string& command, std::size_t number) const;
    std::string startupBytes() const;

    std::uint16_t port;
    Variables startup;
    std::string rawStartup;
    bool useRaw = false;
    Script script;
    std::size_t hangupAt = 0;
    std::chrono::milliseconds deadline{30000};
};

}  // namespace tarvik::testing
