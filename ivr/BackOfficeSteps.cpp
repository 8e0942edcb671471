#include "ivr/BackOfficeSteps.h"

#include "api/FlowRequests.h"

namespace tarvik {

namespace {

// Texts from outside (back-office bodies, documents, caller numbers) are
// written as plain text, never as a format.
void traceLine(KestroAgiImpl& session, const std::string& text) { session.noop("%s", text.c_str()); }

// The three values the recall and event traces repeat after their prefix.
std::string traceValues(const std::string& first, const std::string& firstName, const std::string& phone,
                        const std::string& uniqueId) {
    return firstName + "=> " + first + ", phone=> " + phone + ", uniqueId=> " + uniqueId;
}

}  // namespace

void BackOfficeSteps::writeNotices(KestroAgiImpl& session) {
    for (const std::string& line : http.takeNotices()) session.verbose("%s", line.c_str());
}

bool BackOfficeSteps::write(KestroAgiImpl& session, const BackOfficeOutcome& outcome) {
    for (const std::string& line : outcome.lines) session.verbose("%s", line.c_str());
    return outcome.done;
}

bool BackOfficeSteps::isReady(KestroAgiImpl& session) {
    beginReady(session);
    return finishReady(session);
}

void BackOfficeSteps::beginReady(KestroAgiImpl& session) {
    Configuration* configuration = http.getConfiguration();
    if (configuration == nullptr) return;
    const char* lumora = configuration->getMark("header-lumora");
    session.verbose("Lumora ID: %s", lumora != nullptr ? lumora : "undefined");
}

bool BackOfficeSteps::finishReady(KestroAgiImpl& session) {
    writeNotices(session);
    return write(session, http.ready());
}

ISPClient* BackOfficeSteps::getClientByPhone(KestroAgiImpl& session, const std::string& phone,
                                             const std::string& protocol) {
    writeNotices(session);
    CustomerFound found = http.findByPhone(phone, protocol);
    write(session, found);
    return found.client.release();
}

ISPClient* BackOfficeSteps::getClientByDocument(KestroAgiImpl& session, const std::string& document,
                                                const std::string& phone, const std::string& protocol) {
    writeNotices(session);
    CustomerFound found = http.findByDocument(document, phone, protocol);
    write(session, found);
    return found.client.release();
}

bool BackOfficeSteps::unlock(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                             const std::string& phone) {
    writeNotices(session);
    return write(session, http.unlock(client, signature, phone));
}

bool BackOfficeSteps::sendInvoice(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                                  const std::string& phone) {
    writeNotices(session);
    return write(session, http.sendInvoice(client, signature, phone));
}

bool BackOfficeSteps::informProtocol(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                                     const std::string& protocol) {
    writeNotices(session);
    return write(session, http.informProtocol(client, signature, protocol));
}

std::string BackOfficeSteps::getExternalProtocol(KestroAgiImpl& session, ISPClient* client,
                                                 ISPSignature* signature) {
    writeNotices(session);
    const BackOfficeOutcome outcome = http.externalProtocol(client, signature);
    return write(session, outcome) ? outcome.value : std::string();
}

bool BackOfficeSteps::saveIdentification(KestroAgiImpl& session, ISPClient* client) {
    writeNotices(session);
    return write(session, http.saveIdentification(client));
}

bool BackOfficeSteps::isRecall(KestroAgiImpl& session, const std::string& document) {
    writeNotices(session);
    if (document.empty()) return false;
    const std::string owner = FlowRequests::kRecallOwner;
    traceLine(session, "checking if is recall to document: " + document + " in " + owner);
    const BackOfficeOutcome outcome = http.recallAttempts(document);
    if (!write(session, outcome)) return false;
    session.setVariable("RECALL_ATTEMPT", outcome.value.c_str());
    traceLine(session, "[result recall] document: " + document + "in " + owner + " is " + outcome.value + " attempt");
    return true;
}

bool BackOfficeSteps::addToRecall(KestroAgiImpl& session, const std::string& document, const std::string& phone,
                                  const std::string& uniqueId) {
    writeNotices(session);
    const std::string values = traceValues(document, "document", phone, uniqueId);
    traceLine(session, "saving to recall history: " + values);
    if (!write(session, http.registerRecall(document, phone, uniqueId))) {
        traceLine(session, "failure on add to recall: " + values);
        return false;
    }
    traceLine(session, "saved recall history: " + values);
    return true;
}

bool BackOfficeSteps::addEvent(KestroAgiImpl& session, const std::string& event, const std::string& module,
                               const std::string& data) {
    writeNotices(session);
    Configuration* configuration = http.getConfiguration();
    const std::string protocol = configuration != nullptr ? configuration->getProtocol() : std::string();
    const std::string callerId = configuration != nullptr ? configuration->getCallerId() : std::string();
    const std::string values = traceValues(data, "data", callerId, protocol);
    // Without a configuration nothing is about to be saved.
    if (configuration != nullptr) traceLine(session, "saving to recall history: " + values);
    if (!write(session, http.event(event, module, data))) {
        traceLine(session, "failure on add event: " + values);
        return false;
    }
    session.setVariable("ORVEL_IVR_DOCUMENT", data.c_str());
    session.setVariable("ORVEL_IVR_PHONE", callerId.c_str());
    traceLine(session, "saved event: " + values);
    return true;
}

void BackOfficeSteps::logger(KestroAgiImpl& session, const std::string& destination, const std::string& eventType,
                             const char* data1, const char* data2, const char* data3, const char* data4,
                             const char* data5) {
    // Never waits: the early exchanges may still be under way.
    writeNotices(session);
    write(session, http.logger(destination, eventType, data1, data2, data3, data4, data5));
}

}  // namespace tarvik
