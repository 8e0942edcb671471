#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

#include "api/BackOfficeOutcome.h"
#include "api/CustomerFound.h"
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
// an operation: it comes back as the outcome's line, for the flow to write.
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

    // Lines the record path left for the call since last asked: the flow
    // writes them before each operation's own.
    std::vector<std::string> takeNotices();

    // The operations. None writes to the call: each comes back with what
    // the back office said and the lines of why it failed.
    BackOfficeOutcome ready();
    CustomerFound findByPhone(const std::string& phone, const std::string& protocol);
    CustomerFound findByDocument(const std::string& document, const std::string& phone, const std::string& protocol);
    BackOfficeOutcome unlock(ISPClient* client, ISPSignature* signature, const std::string& phone);
    BackOfficeOutcome sendInvoice(ISPClient* client, ISPSignature* signature, const std::string& phone);
    BackOfficeOutcome informProtocol(ISPClient* client, ISPSignature* signature, const std::string& protocol);
    // value: the back office's protocol number for the call.
    BackOfficeOutcome externalProtocol(ISPClient* client, ISPSignature* signature);
    BackOfficeOutcome saveIdentification(ISPClient* client);
    // done: a recall, with the attempts as value.
    BackOfficeOutcome recallAttempts(const std::string& document);
    BackOfficeOutcome registerRecall(const std::string& document, const std::string& phone,
                                     const std::string& uniqueId);
    BackOfficeOutcome event(const std::string& event, const std::string& module, const std::string& data);
    // One remote call-log entry; a null data text is left out. Never judged.
    BackOfficeOutcome logger(const std::string& destination, const std::string& eventType, const char* data1,
                             const char* data2, const char* data3, const char* data4, const char* data5);

    Configuration* getConfiguration() const { return configuration; }

private:
    using Build = std::function<std::unique_ptr<ApiRequest>(const FlowRequests&)>;
    // Reads an answer into the outcome; false: the back office refused
    // (a line to say so is raised as ApiFailure).
    using Judge = std::function<bool(const KestroAgiDataSourceResult&, BackOfficeOutcome&)>;

    // Every operation's one course: check and build (`build` raises its
    // check's line), send (a record in line, settled by the record path),
    // judge; no answer fails with `failure()`, computed once the checks
    // passed. Any failure ends as the outcome's line.
    void run(BackOfficeOutcome& outcome, const Build& build, const std::function<std::string()>& failure,
             const Judge& judge);
    BackOfficeOutcome run(const Build& build, const std::function<std::string()>& failure, const Judge& judge);
    KestroAgiRESTFul::TransferOptions readyOptions() const;
    // The answer to a readiness check; raises ApiFailure when it is none.
    static bool readReadyAnswer(const KestroAgiDataSourceResult& result);
    CustomerFound find(const Build& build, const std::string& transferFailure, const std::string& parseFailure);
    // Sends a record in line; the record path settles what was not taken.
    ApiRequest::Result sendInLine(ApiRequest& request, const BackOfficeRecord& record);
    FlowRequests flowRequests() const;
    void startEarly(const std::function<void(EarlyExchanges&, const FlowRequests&)>& start);
    // The answer to the very same request started early, or one sent now.
    ApiRequest::Result exchange(ApiRequest& request, TransferFault& fault);

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
