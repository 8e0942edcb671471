#pragma once

#include <string>

#include "ivr/DialogueContext.h"

namespace tarvik {

// Reads the back office's protocol number to the caller digit by digit,
// offers to repeat it or to send it, and then lets the call go on.
class ProtocolDialogue {
public:
    explicit ProtocolDialogue(const DialogueContext& context) : context(context) {}

    void run(const std::string& protocolNumber) const;

private:
    void readNumber(const std::string& protocolNumber) const;

    const DialogueContext& context;
};

}  // namespace tarvik
