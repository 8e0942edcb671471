#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "agi/AgiLineStream.h"

namespace nanoagi {

// The AGI wire: reads the start-up block Asterisk writes when the call enters
// the AGI, then performs one command at a time (one line out, one reply in).
// It knows nothing of what the commands mean; KestroAgi builds them and reads
// the kept reply value.
class AGI {
public:
    // Older Asterisk releases read at most 2,047 bytes of a command line,
    // line feed included.
    static constexpr std::size_t kMaxCommandLength = 2046;

    // Reads the start-up block from inFd; commands go to outFd. Blocks until
    // Asterisk has sent the block (or closed the input).
    explicit AGI(int inFd = 0, int outFd = 1);

    AGI(const AGI&) = delete;
    AGI& operator=(const AGI&) = delete;

    bool cmd(std::string command);
    bool cmd(std::string command, bool);

    // Writes one command line and reads its reply. A 2xx reply with "="
    // stores what follows the first "=" into value; a 5xx reply stores the
    // text after the code into value and the error text and gives false;
    // anything else (end of input included) gives true and changes nothing.
    bool wcout(std::string& command, std::string& value);

    // Empties variables, then reads "key: value" lines up to the first empty
    // line or end of input.
    void rcin(std::map<std::string, std::string>& variables);

    // Splits one start-up line at its first colon; false without a colon.
    bool split(std::string& line, std::map<std::string, std::string>& variables);

    // Removes leading and trailing spaces (0x20 only).
    void trim(std::string& text);

    const std::map<std::string, std::string>& getEnvironment() const { return environment; }
    const std::string& getResponseValue() const { return responseValue; }
    const std::string& getErrorText() const { return errorText; }

    // Whether the most recent command got a reply line. False when Asterisk
    // had closed the input or the output, so the kept value is stale.
    bool lastCommandAnswered() const { return answered; }
    // End of input seen or output broken: no reply will come any more.
    bool isChannelClosed() const { return stream.isClosed(); }
    // A network AGI was told, by the unsolicited "HANGUP" line, that the
    // caller hung up: the channel is gone, later replies are 511 or -1.
    bool isHangupNotified() const { return hangupNotified; }

    // The single line actually written for a command: every CR and LF
    // becomes a space (a text from outside must never start a second
    // command) and the line is cut to kMaxCommandLength bytes.
    static std::string toCommandLine(const std::string& command);

protected:
    void clearResponseValue() { responseValue.clear(); }

private:
    // Reads the reply to one command: skips the unsolicited "HANGUP" line a
    // network AGI gets after a hang-up, and reads a multi-line reply
    // ("520-...") through to its last line ("520 ...").
    bool readReply(std::string& reply);

    std::map<std::string, std::string> environment;
    std::string responseValue;
    std::string errorText;
    tarvik::AgiLineStream stream;
    bool answered = false;
    bool hangupNotified = false;
};

}  // namespace nanoagi
