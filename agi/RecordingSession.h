#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "agi/KestroAgiImpl.h"

namespace tarvik {

// A session without Asterisk that keeps every operation, in order, as one
// text line ("background /etc/tarvik/kestro/audios/Orvel-u4-01",
// "input document 14 5 <prompt> 3", "verbose <text>", "noop <text>",
// "goTo ctx 50005 1", ...). With a call (the call-flow tests) operations
// succeed, `input` is answered from per-name queues and start-up variables
// from a map; without one (--check, --explain-route: a configuration is
// loaded where no call exists) every channel operation fails quietly and
// only the lines a call would log matter.
class RecordingSession : public KestroAgiImpl {
public:
    enum class Channel { call, none };
    explicit RecordingSession(Channel channel = Channel::call) : channel(channel) {}

    // Queue an answer for input(name, ...); a null-like answer (no value)
    // is queued with queueNoAnswer.
    void queueInput(const std::string& name, const std::string& answer);
    void queueNoAnswer(const std::string& name);
    // Start-up ("agi_*", "varN") and channel variables.
    void setAsteriskVariable(const std::string& name, const std::string& value);

    // All recorded operation lines, in order.
    const std::vector<std::string>& operations() const { return log; }
    // Only the lines that begin with the given operation name ("background").
    std::vector<std::string> operationsNamed(const std::string& name) const;
    // Lines of the operations that act on the call (everything but verbose
    // and noop), which is what call-flow tests usually compare.
    std::vector<std::string> callSteps() const;
    // The verbose texts since the last take, oldest first.
    std::vector<std::string> takeVerboseLines();
    // Variables set with setVariable, last value per name.
    const std::map<std::string, std::string>& variablesSet() const { return setVariables; }
    // Count of input() calls that found their queue empty.
    int unansweredInputs() const { return unanswered; }

    bool failGoTo = false;  // make goTo return false

    bool setLanguage(const char* language) override;
    void verbose(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void hangup() override;
    bool answer() override;
    bool sayDigits(const char* digits) override;
    bool sayNumber(const char* number) override;
    using KestroAgiImpl::sayNumber;
    bool dial(const char* dialString) override;
    bool sayTime(const char* time) override;
    char* getVariable(const char* name) override;
    bool setVariable(const char* name, const char* value) override;
    bool transfer(const char* destination) override;
    bool getDtmf(std::string& digits, int maxDigits, int timeout, char terminator) override;
    char* input(const char* name, int maxDigits, int timeoutSeconds, const char* prompt, int attempts) override;
    void noop(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    int getAsteriskVersion() override;
    const char* getAsteriskVariable(const char* name) override;
    bool playback(const char* file) override;
    bool background(const char* file) override;
    bool jump(const char* target) override;
    bool goTo(const char* context, const char* extension, const char* priority) override;

private:
    // Keeps the line; true when a call is there to act on.
    bool record(const std::string& line);

    const Channel channel;
    std::vector<std::string> log;
    std::size_t verboseTaken = 0;  // lines of log already looked at by takeVerboseLines
    std::map<std::string, std::deque<std::pair<bool, std::string>>> inputs;
    std::map<std::string, std::string> asteriskVariables;
    std::map<std::string, std::string> setVariables;
    int unanswered = 0;
};

}  // namespace tarvik
