#pragma once

#include <string>

#include "agi/KestroAgiImpl.h"
#include "emulator/KestroRobot.h"

namespace tarvik {

// A session without Asterisk: every operation prints one line on standard
// output (its name, then each argument after one space) and succeeds;
// keypad answers and start-up variables come from a robot file. Standard
// input is never read.
class KestroAgiEmulator : public KestroAgiImpl {
public:
    KestroAgiEmulator();
    ~KestroAgiEmulator() override;

    // Loads a robot file into the session's robot; false when it failed.
    bool loadRobot(const char* file);
    KestroRobot& getRobot() { return robot; }

    static constexpr int kAsteriskVersion = 13;

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
    // Writes one trace line and flushes, so the trace interleaves correctly
    // with anything else the process prints.
    static void printLine(const std::string& line);

    KestroRobot robot;
};

}  // namespace tarvik
