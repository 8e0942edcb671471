#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <string>

#include "agi/AGI.h"
#include "agi/KestroAgiImpl.h"
#include "agi/KestroAgiResponse.h"

namespace tarvik {

// The real session: every operation becomes AGI command lines to Asterisk.
// The wire part is constructed first, so the start-up block has been read
// before the session state exists.
class KestroAgi : public nanoagi::AGI, public KestroAgiImpl {
public:
    explicit KestroAgi(int inFd = STDIN_FILENO, int outFd = STDOUT_FILENO);
    ~KestroAgi() override;

    // Sends one printf-formatted command; its result is false only for a
    // 5xx reply (and for a null format, which sends nothing).
    bool exec(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Sends one printf-formatted command and parses its reply. The caller
    // owns the response. Null for a null format. Throws KestroAgiException
    // (400) for the reply forms it cannot read.
    KestroAgiResponse* evaluate(const char* format, ...) __attribute__((format(printf, 2, 3)));

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

    // A version text that does not start with a number comes from a
    // development build (GIT-..., SVN-...); those speak the current syntax.
    static constexpr int kUnnumberedVersion = 13;
    // getDtmf gives up after this many digits.
    static constexpr std::size_t kMaxDtmfDigits = 16;

private:
    // The quoted log commands VERBOSE and EXEC NoOp: the message is escaped
    // and shortened so the whole line stays within the command length.
    void sendQuoted(const char* prefix, const char* format, va_list arguments);
    // Sends a command and parses the reply, as evaluate does.
    KestroAgiResponse* evaluateLine(const std::string& command);
    // evaluate, then the text to hand out, or null (logged either way).
    char* fetch(const char* name, const std::string& command, bool isVariable);
};

}  // namespace tarvik
