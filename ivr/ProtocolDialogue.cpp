#include "ivr/ProtocolDialogue.h"

#include "ivr/BackOfficeSteps.h"

namespace tarvik {

namespace {
const Question kRepeatProtocol{"repetir_protocolo", 1, 5, "beep", 3};
}  // namespace

void ProtocolDialogue::run(const std::string& protocolNumber) const {
    context.playPrompt("Orvel-u4-38");
    context.playPrompt("Orvel-u4-39");
    context.playPrompt("Orvel-u4-40");

    bool readAgain = true;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (readAgain) readNumber(protocolNumber);
        context.playPrompt("Orvel-u4-42");
        context.playPrompt("Orvel-u4-43");
        std::string answer = context.askText(kRepeatProtocol);
        if (answer.empty()) return;

        int option = DialogueContext::readWholeNumber(answer);
        if (option == 1) {
            readAgain = true;
        } else if (option == 2) {
            // Whether the back office took it is not the caller's concern.
            if (context.features().sendProtocol && context.http() != nullptr) {
                context.http()->informProtocol(context.session(), context.client(), context.contract(), protocolNumber);
            }
            context.playPrompt("Orvel-u4-44");
            context.session().verbose("protocol sent: '%s'", protocolNumber.c_str());
            return;
        } else {
            context.session().verbose("invalid option to retry protocol: '%d'", option);
            context.playPrompt("Orvel-u4-53");
            readAgain = false;
        }
    }
}

void ProtocolDialogue::readNumber(const std::string& protocolNumber) const {
    context.playPrompt("Orvel-u4-41");
    for (char character : protocolNumber) {
        const char digit[2] = {character, '\0'};
        context.session().sayDigits(digit);
    }
    context.session().verbose("protocol is: %s", protocolNumber.c_str());
}

}  // namespace tarvik
