#pragma once

#include <string>

#include "agi/KestroAgiImpl.h"
#include "api/BackOfficeOutcome.h"
#include "api/HttpClient.h"
#include "configuration/Configuration.h"

namespace tarvik {

// The call's back-office steps as the caller's session sees them: each
// writes the record notices so far, asks the client, and writes its trace
// lines, failure lines and channel variables where the flow has always
// written them. The client itself never touches the session.
class BackOfficeSteps {
public:
    // The configuration is borrowed as the client's (null: every step fails).
    explicit BackOfficeSteps(Configuration* configuration) : http(configuration) {}

    HttpClient& client() { return http; }

    // isReady in two steps: begin writes what the check says before it is
    // made, finish waits for the answer. isReady does both at once.
    void beginReady(KestroAgiImpl& session);
    bool finishReady(KestroAgiImpl& session);
    bool isReady(KestroAgiImpl& session);

    // New client record the caller owns, or null.
    ISPClient* getClientByPhone(KestroAgiImpl& session, const std::string& phone, const std::string& protocol);
    ISPClient* getClientByDocument(KestroAgiImpl& session, const std::string& document, const std::string& phone,
                                   const std::string& protocol);

    bool unlock(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature, const std::string& phone);
    bool sendInvoice(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature, const std::string& phone);
    bool informProtocol(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                        const std::string& protocol);
    // The back office's protocol number for the call, or an empty text.
    std::string getExternalProtocol(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature);
    bool saveIdentification(KestroAgiImpl& session, ISPClient* client);

    // Sets RECALL_ATTEMPT when the document's call is a recall.
    bool isRecall(KestroAgiImpl& session, const std::string& document);
    bool addToRecall(KestroAgiImpl& session, const std::string& document, const std::string& phone,
                     const std::string& uniqueId);
    // Sets ORVEL_IVR_DOCUMENT and ORVEL_IVR_PHONE once the event is taken.
    bool addEvent(KestroAgiImpl& session, const std::string& event, const std::string& module,
                  const std::string& data);
    void logger(KestroAgiImpl& session, const std::string& destination, const std::string& eventType,
                const char* data1, const char* data2, const char* data3, const char* data4, const char* data5);

private:
    void writeNotices(KestroAgiImpl& session);
    // The outcome's lines, then whether it was done.
    static bool write(KestroAgiImpl& session, const BackOfficeOutcome& outcome);

    HttpClient http;
};

}  // namespace tarvik
