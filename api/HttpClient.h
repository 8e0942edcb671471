#pragma once

#include <string>

#include <json/json.h>

#include "agi/KestroAgiImpl.h"
#include "api/KestroAgiRESTFul.h"
#include "configuration/Configuration.h"
#include "model/ISPClient.h"
#include "model/ISPInvoice.h"
#include "model/ISPSignature.h"

namespace tarvik {

// The IVR's client of the back-office REST API. Every operation builds,
// sends and discards its own request; addresses, credentials and call
// identifiers come from the configuration on each call. No failure leaves
// an operation: it is written as one verbose line and the operation returns
// its failure value (false, null or an empty text).
class HttpClient {
public:
    // The configuration is borrowed for the client's whole life; it may be
    // null, and then every operation fails.
    explicit HttpClient(Configuration* configuration);

    // Bounds applied to every request (defaults: 3 s to connect, 10 s in all).
    void setTimeouts(long connectSeconds, long totalSeconds);
    // TLS peer and host verification (default off); an empty caFile means
    // the system's CA store.
    void setTlsVerification(bool verify, const std::string& caFile);

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

    bool isRecall(KestroAgiImpl& session, const std::string& document);
    bool addToRecall(KestroAgiImpl& session, const std::string& document, const std::string& phone,
                     const std::string& uniqueId);
    bool addEvent(KestroAgiImpl& session, const std::string& event, const std::string& module,
                  const std::string& data);
    // One remote call-log entry; a null data text is left out.
    void logger(KestroAgiImpl& session, const std::string& destination, const std::string& eventType,
                const char* data1, const char* data2, const char* data3, const char* data4, const char* data5);

    // The customer mapping (records the caller owns, or null).
    static ISPInvoice* getInvoiceFromJson(KestroAgiImpl& session, Json::Value& value);
    static ISPSignature* getSignatureFromJson(KestroAgiImpl& session, Json::Value& value);
    static ISPClient* getClientFromJson(KestroAgiImpl& session, Json::Value& value);

private:
    Configuration& requireConfiguration() const;
    // The two lookups after their own checks: GET base URI + path, then the
    // answer must be an object with a text "document".
    ISPClient* findClient(KestroAgiImpl& session, Configuration& config, const std::string& path,
                          const std::string& phone, const std::string& protocol, const std::string& transferFailure,
                          const std::string& parseFailure);

    Configuration* configuration;
    KestroAgiRESTFul::TransferOptions transferOptions;
};

}  // namespace tarvik
