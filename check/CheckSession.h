#pragma once

#include <string>
#include <vector>

#include "agi/KestroAgiImpl.h"

namespace tarvik {

// The session of a configuration check: no call exists, so every call
// operation fails quietly, and the verbose lines a call would log are kept
// for the check to judge.
class CheckSession : public KestroAgiImpl {
public:
    // The verbose lines since the last take, oldest first.
    std::vector<std::string> takeLines();

    bool setLanguage(const char* language) override;
    void verbose(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void hangup() override;
    bool answer() override;
    bool sayDigits(const char* digits) override;
    bool sayNumber(const char* number) override;
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
    std::vector<std::string> lines;
};

}  // namespace tarvik
