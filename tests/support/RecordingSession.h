#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "agi/KestroAgiImpl.h"

namespace tarvik::testing {

// A session for call-flow tests: records every operation, in order, as one
// text line ("background /etc/tarvik/kestro/audios/Orvel-u4-01",
// "input document 14 5 <prompt> 3", "verbose <text>", "noop <text>",
// "goTo ctx 50005 1", ...), answers `input` from per-name queues and start-up
// variables from a map. Operations succeed unless told otherwise.
class RecordingSession : public KestroAgiImpl {
public:
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
    void record(const std::string& line) { log.push_back(line); }

    std::vector<std::string> log;
    std::map<std::string, std::deque<std::pair<bool, std::string>>> inputs;
    std::map<std::string, std::string> asteriskVariables;
    std::map<std::string, std::string> setVariables;
    int unanswered = 0;
};

}  // namespace tarvik::testing
