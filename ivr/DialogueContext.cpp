#include "ivr/DialogueContext.h"

#include <climits>
#include <cstring>

#include "ivr/Plugin.h"
#include "model/ISPClient.h"
#include "util/CText.h"

namespace tarvik {

namespace {
constexpr const char* kBarePrompt = "beep";
}  // namespace

DialogueContext::DialogueContext(Plugin& plugin, KestroAgiImpl& session) : plugin(plugin), call(session) {}

void DialogueContext::playPrompt(const char* name) const { call.background(plugin.getProfileAudio(name).c_str()); }

std::optional<std::string> DialogueContext::ask(const Question& question) const {
    std::string prompt = std::strcmp(question.prompt, kBarePrompt) == 0 ? std::string(kBarePrompt)
                                                                        : plugin.getProfileAudio(question.prompt);
    CText answer(call.input(question.name, question.maxDigits, question.timeoutSeconds, prompt.c_str(),
                            question.attempts));
    if (!answer) return std::nullopt;
    return std::string(answer.get());
}

std::string DialogueContext::askText(const Question& question) const { return ask(question).value_or(std::string()); }

void DialogueContext::logEntry(const char* eventType, const char* data1, const char* data2) const {
    plugin.logEntry(call, eventType, data1, data2);
}

void DialogueContext::startForward(IvrDestination destination) const { plugin.startForwardEvent(destination); }

void DialogueContext::redirect(IvrDestination destination, const std::string& text) const {
    plugin.redirect(call, plugin.getDestinationValue(destination), text);
}

const std::string& DialogueContext::document() const { return plugin.document; }

const std::string& DialogueContext::callerId() const { return plugin.callerId; }

ISPClient* DialogueContext::client() const { return plugin.client.get(); }

ISPSignature* DialogueContext::contract() const {
    return plugin.client ? plugin.client->getStandard() : nullptr;
}

const PluginFeatures& DialogueContext::features() const {
    static const PluginFeatures allOn;
    return plugin.features ? *plugin.features : allOn;
}

BackOfficeSteps* DialogueContext::http() const { return plugin.http.get(); }

std::string DialogueContext::documentText(const char* ending) const { return "document " + plugin.document + ending; }

int DialogueContext::readWholeNumber(const std::string& text) {
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

}  // namespace tarvik
