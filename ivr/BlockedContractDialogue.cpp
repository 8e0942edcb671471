#include "ivr/BlockedContractDialogue.h"

#include "ivr/BackOfficeSteps.h"
#include "ivr/InvoiceDialogue.h"
#include "ivr/Plugin.h"
#include "model/ISPClient.h"

namespace tarvik {

namespace {
const Question kOverdueOptions{"opcao_atendimento_inadimplente", 14, 5, "Orvel-u4-23", 3};
const Question kTrustTerms{"deseja_liberar_em_confianca", 14, 5, "Orvel-u4-25", 3};
const Question kOtherOptions{"outras_opcoes_de_atendimento", 14, 5, "beep", 3};
}  // namespace

void BlockedContractDialogue::run() const {
    const auto& overdue = context.contract()->getOverdueInvoices();
    if (overdue.empty()) {
        context.redirect(IvrDestination::BlockedWithoutInvoices, "contrato bloqueado sem informações de faturas");
        return;
    }
    KestroAgiImpl& session = context.session();
    // The prompts around the date only make sense with one: a due date the
    // back office garbled leaves the whole sentence out.
    if (overdue.front()->hasDueDate()) {
        long dueDate = overdue.front()->getDueDate();
        context.playPrompt("Orvel-u4-21");
        session.sayNumber(Plugin::getDatePart('d', dueDate));
        context.playPrompt("Orvel-u4-22");
        session.sayNumber(Plugin::getDatePart('m', dueDate));
    }

    std::string choice;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::string answer = context.askText(kOverdueOptions);
        session.verbose("apresentado opcoes de atendimento para inadimplente, tentativa %d,  digitado: '%s'", attempt,
                        answer.c_str());
        if (answer == "1" || answer == "2" || answer == "3") {
            choice = answer;
            break;
        }
    }

    if (choice == "1") {
        InvoiceDialogue(context).sendInvoice(IvrDestination::BlockedInvoiceSent);
        context.redirect(IvrDestination::BlockedInvoiceSent, context.documentText(" sent new invoices"));
    } else if (choice == "2") {
        trustUnlock();
    } else if (choice == "3") {
        context.redirect(IvrDestination::BlockedToCollection, "direcionado para a fila de cobrança");
    } else {
        context.redirect(IvrDestination::BlockedNoValidOption, "nenhuma opção valida selecionada");
    }
}

void BlockedContractDialogue::trustUnlock() const {
    const std::string& document = context.document();
    context.logEntry("request-unlock", document.c_str());
    if (!context.contract()->itCanUnlock()) {
        context.logEntry("deny-unlock", document.c_str());
        context.startForward(IvrDestination::TrustUnlockUnavailable);
        context.playPrompt("Orvel-u4-24");
        context.redirect(IvrDestination::TrustUnlockUnavailable,
                         "servico de liberacao em confianca nao disponivel para o documento: " + document);
        return;
    }

    // Silence only repeats the terms; a wrong key is a refusal.
    std::string answer;
    for (int attempt = 0; attempt < 3 && answer.empty(); ++attempt) answer = context.askText(kTrustTerms);
    if (answer != "1") {
        context.logEntry("reject-unlock-term", document.c_str());
        context.redirect(IvrDestination::TrustUnlockRejected, "nao aceitou os termos de liberação em confiança");
        return;
    }

    bool unlocked = context.features().signatureUnlock && context.http() != nullptr &&
                    context.http()->unlock(context.session(), context.client(), context.contract(), context.callerId());
    if (!unlocked) {
        context.startForward(IvrDestination::TrustUnlockFailed);
        context.playPrompt("Orvel-u4-falha-desbloqueio");
        context.redirect(IvrDestination::TrustUnlockFailed, "falha na liberacao de confianca");
        return;
    }

    context.logEntry("accepted-unlock", document.c_str());
    context.playPrompt("Orvel-u4-26");
    if (context.askText(kOtherOptions) == "1") {
        context.redirect(IvrDestination::TrustUnlockContinue, "continuar com o atendimento");
        return;
    }
    // The caller is served: no redirect, the dial plan goes on after the AGI step.
    context.playPrompt("Orvel-u4-28");
}

}  // namespace tarvik
