#pragma once

#include <optional>
#include <string>

#include "agi/KestroAgiImpl.h"
#include "ivr/IvrDestination.h"
#include "ivr/PluginFeatures.h"

namespace tarvik {

class BackOfficeSteps;
class ISPClient;
class ISPSignature;
class Plugin;

// One keypad question as the session's input() takes it. The prompt is a
// prompt name resolved through the routing profile, except the bare "beep".
struct Question {
    const char* name;
    int maxDigits;
    int timeoutSeconds;
    const char* prompt;
    int attempts;
};

// What the call-flow dialogues may do on a call and read of it: play
// prompts, ask questions, write remote log entries, redirect, and read the
// customer, the chosen contract and the switches. Borrows both the module
// and the session for the length of one dialogue.
class DialogueContext {
public:
    DialogueContext(Plugin& plugin, KestroAgiImpl& session);

    KestroAgiImpl& session() const { return call; }

    // Background of the prompt's audio path (the profile's directory or the
    // default one).
    void playPrompt(const char* name) const;
    // The typed text, or nothing when the session gave no answer at all.
    std::optional<std::string> ask(const Question& question) const;
    // The same with "no answer" folded into the empty text.
    std::string askText(const Question& question) const;

    // Remote log entry with destination "main"; only when events are on.
    void logEntry(const char* eventType, const char* data1 = nullptr, const char* data2 = nullptr) const;
    void redirect(IvrDestination destination, const std::string& text) const;
    // The exit is certain but a prompt still comes first: its forward event
    // may start now (see Plugin::redirect).
    void startForward(IvrDestination destination) const;

    const std::string& document() const;
    const std::string& callerId() const;
    ISPClient* client() const;
    // The customer's standard contract, the one this call is about.
    ISPSignature* contract() const;
    // The switches; all on when the configuration never created them.
    const PluginFeatures& features() const;
    // Null when the configuration never created the back-office client.
    BackOfficeSteps* http() const;

    // "document " + the caller's document + ending.
    std::string documentText(const char* ending) const;

    // The leading decimal digits of text as a number (0 when there are
    // none); saturates instead of overflowing.
    static int readWholeNumber(const std::string& text);

private:
    Plugin& plugin;
    KestroAgiImpl& call;
};

}  // namespace tarvik
