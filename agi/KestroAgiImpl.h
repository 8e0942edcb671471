#pragma once

#include <string>
#include <vector>

namespace tarvik {

// The one interface through which modules and the back-office client act on
// a call. The runner creates exactly one session per process; everything
// else borrows it by reference.
//
// Texts: `input` and `getVariable` return heap copies the caller frees
// (take them into a CText); `getAsteriskVariable` returns a borrowed text.
// `verbose` and `noop` take printf formats: never pass an outside text as
// the format, write verbose("%s", text).
class KestroAgiImpl {
public:
    KestroAgiImpl();
    virtual ~KestroAgiImpl();

    KestroAgiImpl(const KestroAgiImpl&) = delete;
    KestroAgiImpl& operator=(const KestroAgiImpl&) = delete;

    virtual bool setLanguage(const char* language) = 0;
    virtual void verbose(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual void hangup() = 0;
    virtual bool answer() = 0;
    virtual bool sayDigits(const char* digits) = 0;
    virtual bool sayNumber(const char* number) = 0;
    virtual bool dial(const char* dialString) = 0;
    virtual bool sayTime(const char* time) = 0;
    virtual char* getVariable(const char* name) = 0;
    virtual bool setVariable(const char* name, const char* value) = 0;
    virtual bool transfer(const char* destination) = 0;
    virtual bool getDtmf(std::string& digits, int maxDigits, int timeout, char terminator) = 0;
    virtual char* input(const char* name, int maxDigits, int timeoutSeconds, const char* prompt, int attempts) = 0;
    virtual void noop(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual int getAsteriskVersion() = 0;
    virtual const char* getAsteriskVariable(const char* name) = 0;
    virtual bool playback(const char* file) = 0;
    virtual bool background(const char* file) = 0;
    virtual bool jump(const char* target) = 0;
    virtual bool goTo(const char* context, const char* extension, const char* priority) = 0;

    bool isTerminated() const { return terminated; }
    void setTerminated(bool value) { terminated = value; }

    const char* getDefaultContext() const { return defaultContext; }
    void setDefaultContext(const char* context);
    // Where the call's exits go: the configured context, else the fallback
    // (a null context would leave the call unrouted).
    const char* exitContext() const { return defaultContext != nullptr ? defaultContext : kFallbackContext; }

    const char* getDebugLogger() const { return debugLogger; }
    void setDebugLogger(const char* path);

    // Appends a copy of text (must not be null).
    void appendArgument(const char* text);
    // 1-based; null when index is out of range.
    const char* getArgument(int index);

    // Writes number in plain decimal and speaks it through sayNumber(text).
    bool sayNumber(int number);

    // The dial-plan context used by jump when none is configured.
    static constexpr const char* kFallbackContext = "tarvik-kestro-alias";

private:
    bool terminated = false;
    std::vector<std::string> arguments;
    char* defaultContext = nullptr;
    char* debugLogger = nullptr;
};

}  // namespace tarvik
