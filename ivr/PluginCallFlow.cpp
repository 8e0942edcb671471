// The life of one call: answer, greet, identify the customer, pick the
// contract, tell what applies to it and hand the call back to the dial plan.
#include <chrono>
#include <ctime>
#include <stdexcept>

#include "ivr/BackOfficeSteps.h"
#include "ivr/BlockedContractDialogue.h"
#include "ivr/DialogueContext.h"
#include "ivr/InvoiceDialogue.h"
#include "ivr/MaintenanceAnnouncement.h"
#include "ivr/Plugin.h"
#include "ivr/ProtocolDialogue.h"
#include "metrics/CallTally.h"
#include "model/ISPClient.h"

namespace tarvik {

namespace {

const Question kServiceAddress{"endereco_de_atendimento", 1, 5, "beep", 3};
constexpr int kAttempts = 3;
// CPF numbers have 11 digits, CNPJ numbers 14.
constexpr std::size_t kCpfLength = 11;

}  // namespace

void Plugin::play(KestroAgiImpl& session) {
    // The call's exchanges and spool events, for its summary and metrics.
    CallTally::listen();
    CallTally::begin();
    summary = CallSummary();
    callPlayed = true;
    callStarted = std::chrono::steady_clock::now();
    loadMark(session);
    loadEnv(session);
    try {
        runCall(session);
    } catch (const std::exception& failure) {
        const char* debugFile = session.getDebugLogger();
        if (debugFile != nullptr) logger(session, debugFile, "%s\n", failure.what());
        session.verbose("%s", failure.what());
    }
}

void Plugin::runCall(KestroAgiImpl& session) {
    if (endpointFindClientByDocument.empty() || endpointFindInvoiceSend.empty() || endpointFindClientUnlock.empty()) {
        throw std::runtime_error("endpoints find client by document, invoice send and client unlock are required");
    }
    DialogueContext context(*this, session);
    // The readiness check (and the lookup by number) travel while the
    // caller is greeted; with records in line they wait their turn.
    const bool early = http && http->client().hasBackgroundRecords();
    if (records) records->start();
    if (http) http->client().startCall(wantsLookupByPhone());

    session.answer();
    if (http) http->beginReady(session);
    if (http && !early) apiReady = http->finishReady(session);
    logEntry(session, "authenticated");
    if (!destination.empty()) logEntry(session, "trace", destination.c_str());
    session.verbose("phone detected: %s", callerId.c_str());

    phaseWelcome(session);
    if (early) apiReady = http->finishReady(session);
    if (apiReady) phaseIsClientByPhone(session);
    if (!client) {
        if (!phaseIsClient(session)) return;
        if (!client) {
            startForwardEvent(IvrDestination::ClientNotFound);
            logEntry(session, "retry-limits-reached", document.c_str(), callerId.c_str());
            context.playPrompt("Orvel-u4-08");
            context.redirect(IvrDestination::ClientNotFound, "typed document, but client not found");
            return;
        }
    }

    recordCustomer(session);
    if (!selectContract(session)) return;
    runChecksAfterSelection(session);
}

// --- welcome and identification ---------------------------------------------

void Plugin::phaseWelcome(KestroAgiImpl& session) {
    int now = time2Int("now");
    const char* prompt = "Orvel-u4-03";
    if (now >= time2Int("05:00:00") && now <= time2Int("11:59:59")) {
        prompt = "Orvel-u4-01";
    } else if (now >= time2Int("12:00:00") && now <= time2Int("17:59:59")) {
        prompt = "Orvel-u4-02";
    }
    DialogueContext(*this, session).playPrompt(prompt);
}

bool Plugin::wantsLookupByPhone() const {
    return !endpointFindClientByPhone.empty() && features && features->findClientByPhone && http;
}

void Plugin::phaseIsClientByPhone(KestroAgiImpl& session) {
    if (endpointFindClientByPhone.empty()) {
        session.verbose("search by phone is not supported");
        return;
    }
    if (!features || !features->findClientByPhone || !http) {
        client.reset();
        return;
    }
    client.reset(http->getClientByPhone(session, callerId, protocol));
    if (client) {
        summary.setFound(CallSummary::Found::byPhone);
        session.verbose("client located by phone with document: %s", client->getDocument().c_str());
        document = client->getDocument();
    }
}

bool Plugin::phaseIsClient(KestroAgiImpl& session) {
    return askIsCustomer(session, true) && identifyByTypedDocument(session, 14);
}

std::string Plugin::extractOnlyNumber(const std::string& text) {
    std::size_t length = 0;
    while (length < text.size() && text[length] >= '0' && text[length] <= '9') ++length;
    return text.substr(0, length);
}

int Plugin::getDatePart(char part, time_t value) {
    std::tm local{};
    if (localtime_r(&value, &local) == nullptr) return -1;
    switch (part) {
        case 'H':
            return local.tm_hour;
        case 'd':
            return local.tm_mday;
        case 'i':
            return local.tm_min;
        case 'm':
            return local.tm_mon + 1;
        case 's':
            return local.tm_sec >= 60 ? 0 : local.tm_sec;
        case 'y':
            return local.tm_year + 1900;
        default:
            return -1;
    }
}

// --- customer and contract ----------------------------------------------------

void Plugin::recordCustomer(KestroAgiImpl& session) {
    // A standard contract, or the only one, is the call's without asking:
    // the checks' requests go now, beside the document event, with the
    // marks they will carry at their turn (the customer's are in by then).
    const auto& signatures = client->getSignatures();
    ISPSignature* certain = client->getStandard();
    if (certain == nullptr && signatures.size() == 1) certain = signatures.front().get();
    if (certain != nullptr) {
        std::map<std::string, std::string> before = marks;
        applyCustomerMarks();
        startChecksEarly(session, certain);
        marks = std::move(before);
    }

    if (eventsEnabled()) http->addEvent(session, "ORVEL_IVR_DOCUMENT", "kestro-addon", document);

    applyCustomerMarks();
    session.setVariable("TARVIK_API_ID", document.c_str());
    for (const auto& [key, value] : client->getMarks()) {
        session.verbose("found new mark: '%s'->'%s'", key.c_str(), value.c_str());
    }
}

void Plugin::applyCustomerMarks() {
    if (document.size() == kCpfLength) {
        setMark("type", "pf");
    } else if (document.size() > kCpfLength) {
        setMark("type", "pj");
    }
    for (const auto& [key, value] : client->getMarks()) setMark(key, value);
}

void Plugin::startChecksEarly(KestroAgiImpl& session, ISPSignature* contract) {
    if (checksStartedEarly || !http || !http->client().hasBackgroundRecords()) return;
    checksStartedEarly = true;
    const PluginFeatures& switches = DialogueContext(*this, session).features();
    // The recall pair first: the search must follow the registration, so
    // that chain is the longest. A ticket still queued when the flow needs
    // it goes on the flow's own connection instead.
    if (switches.recall) http->client().startRecall(document, callerId, protocol);
    if (!endpointSendProtocol.empty() && switches.externalProtocol) http->client().startExternalProtocol(client.get(), contract);
}

void Plugin::startForwardEvent(IvrDestination destination) {
    if (eventsEnabled()) http->client().startEvent("forward", "ivr.orvel", getDestinationValue(destination));
}

bool Plugin::selectContract(KestroAgiImpl& session) {
    DialogueContext context(*this, session);
    const auto& signatures = client->getSignatures();
    if (signatures.empty()) {
        context.redirect(IvrDestination::ClientWithoutSignatures, "client without signatures");
        return false;
    }
    if (client->getStandard() == nullptr && signatures.size() == 1) client->setStandard(signatures.front().get());
    if (client->getStandard() == nullptr) askForContract(session);
    if (client->getStandard() == nullptr) {
        session.verbose("selected the first contract for the default, because invalid options");
        context.playPrompt("Orvel-u4-12");
        client->setStandard(signatures.front().get());
        session.sayNumber(signatures.front()->getAddressNumber().c_str());
    }

    ISPSignature* contract = client->getStandard();
    // A contract the caller chose: the checks' requests wait for the choice.
    startChecksEarly(session, contract);
    session.verbose("client was found, address used in this call %s", contract->getAddressNumber().c_str());
    logEntry(session, "found", document.c_str(), callerId.c_str());
    return true;
}

void Plugin::askForContract(KestroAgiImpl& session) {
    DialogueContext context(*this, session);
    const auto& signatures = client->getSignatures();
    const int count = static_cast<int>(signatures.size());

    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        context.playPrompt("Orvel-u4-09");
        for (int option = 1; option <= count; ++option) {
            std::string digits = extractOnlyNumber(signatures[option - 1]->getAddressNumber());
            if (!digits.empty()) {
                session.sayNumber(digits.c_str());
            } else {
                context.playPrompt("Orvel-u4-29");
            }
            context.playPrompt("Orvel-u4-10");
            session.sayNumber(option);
            session.verbose("option %d to address  %s", option, digits.c_str());
            if (option < count) {
                session.verbose("has other signatures");
                context.playPrompt("Orvel-u4-11");
            }
        }

        session.verbose("waiting for a choice");
        std::optional<std::string> answer = context.ask(kServiceAddress);
        int choice = answer ? DialogueContext::readWholeNumber(*answer) : -1;
        if (choice >= 1 && choice <= count) {
            client->setStandard(signatures[choice - 1].get());
            return;
        }
        session.verbose("invalid option when select the signature: '%d'", choice);
    }
}

// --- after the contract is chosen ---------------------------------------------

void Plugin::runChecksAfterSelection(KestroAgiImpl& session) {
    DialogueContext context(*this, session);
    const PluginFeatures& switches = context.features();
    ISPSignature* contract = client->getStandard();

    if (!endpointSendProtocol.empty() && switches.externalProtocol && http) {
        std::string protocolNumber = http->getExternalProtocol(session, client.get(), contract);
        if (!protocolNumber.empty() && switches.informProtocol) ProtocolDialogue(context).run(protocolNumber);
    }
    if (contract->isUnderMaintenance() && switches.underMaintenance) {
        MaintenanceAnnouncement(context).run(contract->getEndOfMaintenance());
    }
    if (switches.recall && http) {
        http->addToRecall(session, document, callerId, protocol);
        if (http->isRecall(session, document)) {
            context.redirect(IvrDestination::PriorityRecall, "sent for priority treatment");
            return;
        }
    }
    logEntry(session, "selected", document.c_str(), contract->getId().c_str());

    if (contract->hasForwarding()) {
        // The forwarding is a destination key of its own; the profile may still map it.
        redirect(session, contract->getForwarding(), "transfer to custom forwarding");
        return;
    }
    if (!ignoreEmptyBarCode && contract->hasInvoiceExpired()) {
        startForwardEvent(IvrDestination::InvoiceWithoutBarcode);
        context.playPrompt("Orvel-u4-34");
        logEntry(session, "empty-barcode", document.c_str());
        context.redirect(IvrDestination::InvoiceWithoutBarcode, "invoice without barcode");
        return;
    }
    dispatchByState(session);
}

void Plugin::dispatchByState(KestroAgiImpl& session) {
    DialogueContext context(*this, session);
    ISPSignature* contract = client->getStandard();
    const bool debt = contract->hasOverdueInvoices();

    switch (contract->getState()) {
        case ISPSignature::UNKNOWN:
            if (debt) {
                context.redirect(IvrDestination::UnknownWithDebt, "situação desconhecida com débito");
            } else {
                context.redirect(IvrDestination::UnknownWithoutDebt, "situação desconhecida sem débito");
            }
            return;
        case ISPSignature::WITHOUT_CONNECTION:
            if (debt) {
                context.redirect(IvrDestination::NoConnectionWithDebt, "sem conexão com débito");
            } else {
                startForwardEvent(IvrDestination::NoConnectionWithoutDebt);
                context.playPrompt("Orvel-u4-27");
                context.redirect(IvrDestination::NoConnectionWithoutDebt, "sem conexão sem débito");
            }
            return;
        case ISPSignature::CONNECTED:
            InvoiceDialogue(context).run();
            return;
        case ISPSignature::PAUSED:
            context.redirect(IvrDestination::Paused, debt ? "pausado com pendencias" : "pausado sem pendencias");
            return;
        case ISPSignature::BLOCKED:
            BlockedContractDialogue(context).run();
            return;
        case ISPSignature::CANCELED:
            if (debt) {
                context.redirect(IvrDestination::CanceledWithDebt, "cancelado com débito");
            } else {
                context.redirect(IvrDestination::CanceledWithoutDebt, "cancelado sem débito");
            }
            return;
        default:
            context.redirect(IvrDestination::OtherState, "situação desconhecida");
            return;
    }
}

}  // namespace tarvik
