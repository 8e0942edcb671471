#pragma once

#include "ivr/DialogueContext.h"

namespace tarvik {

// A blocked contract: names the overdue invoice's due date, offers the
// options of an overdue customer and, on option 2, the trust unlock (a
// temporary release of the connection on the customer's word). Ends in a
// redirect, except after a successful unlock when the caller wants nothing
// more: then the dial plan simply continues.
class BlockedContractDialogue {
public:
    explicit BlockedContractDialogue(const DialogueContext& context) : context(context) {}

    void run() const;

private:
    void trustUnlock() const;

    const DialogueContext& context;
};

}  // namespace tarvik
