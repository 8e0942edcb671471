#include "ivr/InvoiceDialogue.h"

#include <climits>
#include <cmath>

#include "ivr/BackOfficeSteps.h"
#include "ivr/Plugin.h"
#include "model/ISPClient.h"

namespace tarvik {

namespace {

const Question kAboutInvoice{"atendimento_referente_ao_boleto", 1, 5, "Orvel-u4-33", 1};
const Question kAboutDebt{"atendimento_referente_ao_debito", 14, 7, "Orvel-u4-18", 3};

// Amounts come from the back office: keep a wild value from overflowing
// the integer that is spoken.
int clampToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value <= INT_MIN) return INT_MIN;
    if (value >= INT_MAX) return INT_MAX;
    return static_cast<int>(value);
}

}  // namespace

void InvoiceDialogue::run() const {
    if (context.contract()->hasOverdueInvoices()) {
        runWithDebt();
    } else {
        runWithoutDebt();
    }
}

void InvoiceDialogue::readInvoice(const ISPInvoice& invoice) const {
    KestroAgiImpl& session = context.session();
    // A due date the back office garbled is left out, never invented.
    if (invoice.hasDueDate()) {
        session.sayNumber(Plugin::getDatePart('d', invoice.getDueDate()));
        context.playPrompt("Orvel-u4-37");
        session.sayNumber(Plugin::getDatePart('m', invoice.getDueDate()));
    }

    double price = invoice.getPrice();
    double whole = std::floor(price);
    context.playPrompt("Orvel-u4-14");
    session.sayNumber(clampToInt(whole));
    context.playPrompt("Orvel-u4-15");

    // Cents with the fraction dropped: 89.8999 is 89 reais and 89 centavos.
    context.playPrompt("Orvel-u4-16");
    session.sayNumber(clampToInt((price - whole) * 100));
    context.playPrompt("Orvel-u4-17");
}

void InvoiceDialogue::sendInvoice(IvrDestination exit) const {
    context.startForward(exit);
    // A failed request is not the caller's concern: the flow goes on as sent.
    if (context.features().sendInvoice && context.http() != nullptr) {
        context.http()->sendInvoice(context.session(), context.client(), context.contract(), context.callerId());
    }
    context.logEntry("send-notification", context.document().c_str());
    context.playPrompt(ISPClient::isMobile(context.callerId()) ? "Orvel-u4-19" : "Orvel-u4-20");
}

void InvoiceDialogue::runWithoutDebt() const {
    const auto& invoices = context.contract()->getInvoices();
    if (invoices.empty()) {
        context.redirect(IvrDestination::NoInvoicePending, context.documentText(" without any invoice pending"));
        return;
    }
    context.playPrompt("Orvel-u4-36");
    readInvoice(*invoices.front());

    std::string answer = context.askText(kAboutInvoice);
    context.session().verbose("asked if you want to receive the invoice, typed: '%s'", answer.c_str());
    if (answer != "1") {
        context.redirect(IvrDestination::NotAboutInvoice,
                         context.documentText(" without any invoice pending, no is about invoice"));
        return;
    }
    sendInvoice(IvrDestination::InvoiceSent);
    context.redirect(IvrDestination::InvoiceSent, context.documentText(" sent new invoices"));
}

void InvoiceDialogue::runWithDebt() const {
    context.playPrompt("Orvel-u4-13");
    readInvoice(*context.contract()->getOverdueInvoices().front());

    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string answer = context.askText(kAboutDebt);
        context.session().verbose("perguntou se o atendimento é referente ao débito, tentativa %d,  digitado: '%s'",
                                  attempt, answer.c_str());
        if (answer == "3") {
            context.redirect(IvrDestination::DebtOptionThree, "");
            return;
        }
        if (answer == "2") {
            context.redirect(IvrDestination::DebtOptionTwo, "");
            return;
        }
        if (answer == "1") {
            sendInvoice(IvrDestination::DebtInvoiceSent);
            context.redirect(IvrDestination::DebtInvoiceSent, "");
            return;
        }
    }
    context.session().verbose("não foi selecionada uma opção valida para atendimento referente ao débito");
    context.redirect(IvrDestination::DebtNoValidOption, "");
}

}  // namespace tarvik
