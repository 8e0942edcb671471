#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <json/json.h>

#include "agi/KestroAgiImpl.h"
#include "api/EarlyExchanges.h"
#include "api/FlowRequests.h"
#include "api/KestroAgiRESTFul.h"
#include "api/RecordPath.h"
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
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Bounds applied to every request (defaults: 3 s to connect, 10 s in all).
    void setTimeouts(long connectSeconds, long totalSeconds);
    // TLS peer and host verification (default off); an empty caFile means
    // the system's CA store.
    void setTlsVerification(bool verify, const std::string& caFile);

    // How records travel (default: remote log entries beside the call, the
    // requests of the caller's path started as soon as the call is certain
    // to make them). False sends every request in line, in the flow's order.
    void setBackgroundRecords(bool enabled) { backgroundRecords = enabled; }
    bool hasBackgroundRecords() const { return backgroundRecords; }
    // The readiness check's own limit (default 2 s).
    void setReadyTimeout(long seconds);
    // Where the call's records go (borrowed; null: every record in line,
    // and one the back office does not take is only reported).
    void setRecordPath(RecordPath* path) { records = path; }

    // At the start of a call, with background records: the readiness check
    // and, when `lookupByPhone`, the lookup of the caller's number.
    void startCall(bool lookupByPhone);
    // After the call's last channel command: what was started early may go
    // on for `limit` more, then it is cut (libcurl notices within about a
    // second).
    void cutAfter(std::chrono::milliseconds limit);
    // Waits for what was started early (cut now unless cutAfter said when);
    // records among it the flow never took are settled: delivered, or kept
    // in the spool.
    void endCall();

    // With background records, once the call is certain to make them: the
    // very requests the operations of the same names will make, started now
    // beside the flow. The operation takes the answer where the flow uses
    // it; a request that fails its checks is not started (the operation
    // reports it). Without a started call they do nothing.
    void startSendInvoice(ISPClient* client, ISPSignature* signature, const std::string& phone);
    void startExternalProtocol(ISPClient* client, ISPSignature* signature);
    // The registration, then the search.
    void startRecall(const std::string& document, const std::string& phone, const std::string& uniqueId);
    void startEvent(const std::string& event, const std::string& module, const std::string& data);

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
    KestroAgiRESTFul::TransferOptions readyOptions() const;
    std::unique_ptr<ApiRequest> prepareReady(Configuration& config) const;
    std::unique_ptr<ApiRequest> prepareLookup(Configuration& config, const std::string& path,
                                              const std::string& phone, const std::string& protocol) const;
    // The answer to a readiness check; raises ApiFailure when it is none.
    static bool readReadyAnswer(const KestroAgiDataSourceResult& result);
    // Sends a record in line; the record path settles what was not taken.
    ApiRequest::Result sendInLine(ApiRequest& request, const BackOfficeRecord& record);
    // Lines the record path left for the call, through verbose.
    void writeNotices(KestroAgiImpl& session);
    // Before a request of the caller's path: the record lines so far.
    void settleEarly(KestroAgiImpl& session);
    FlowRequests flowRequests() const;
    void startEarly(const std::function<void(EarlyExchanges&, const FlowRequests&)>& start);
    // The answer to the very same request started early, or one sent now.
    ApiRequest::Result exchange(ApiRequest& request, TransferFault& fault);
    // The same; no answer raises transferFailure.
    ApiRequest::Result exchange(ApiRequest& request, const std::string& transferFailure);
    // The two lookups after their own checks: GET base URI + path, then the
    // answer must be an object with a text "document".
    ISPClient* findClient(KestroAgiImpl& session, Configuration& config, const std::string& path,
                          const std::string& phone, const std::string& protocol, const std::string& transferFailure,
                          const std::string& parseFailure);

    Configuration* configuration;
    // The caller's path: set when one of its exchanges ran out of time, so
    // later ones fail at once. Records have a latch of their own.
    std::atomic<bool> giveUp{false};
    // When exchanges still under way are cut (steady-clock nanoseconds; 0: not yet).
    std::atomic<long long> cutAt{0};
    KestroAgiRESTFul::TransferOptions transferOptions;
    // A client alone sends in line; the IVR module turns this on.
    bool backgroundRecords = false;
    long readySeconds = 2;
    RecordPath* records = nullptr;
    std::unique_ptr<EarlyExchanges> early;
};

}  // namespace tarvik
