#pragma once

#include "ivr/DialogueContext.h"

namespace tarvik {

class ISPInvoice;

// A connected contract: reads the open or the first overdue invoice and
// asks what the call is about; ends in a redirect. Also holds the invoice
// reading and sending that the blocked-contract dialogue shares.
class InvoiceDialogue {
public:
    explicit InvoiceDialogue(const DialogueContext& context) : context(context) {}

    // Without overdue invoices: the open-invoice question; with them: the
    // debt question.
    void run() const;

    // Due day and month, then the amount in reais and centavos.
    void readInvoice(const ISPInvoice& invoice) const;
    // Asks the back office to send the invoice (when switched on), logs it
    // and tells the caller where it went; the call then goes to `exit`,
    // whose forward event starts beside the invoice request.
    void sendInvoice(IvrDestination exit) const;

private:
    void runWithoutDebt() const;
    void runWithDebt() const;

    const DialogueContext& context;
};

}  // namespace tarvik
