#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <string>

#include <libxml/tree.h>

#include "api/KestroAgiDataSourceResult.h"
#include "util/AbstractXmlParser.h"
#include "util/CText.h"

namespace tarvik {

class ConnectionCache;

// Why an exchange gave no answer.
enum class TransferFault { none, timeout, connection, cancelled, other };

// One HTTP exchange over libcurl: method, URL, headers, parameters and an
// optional body, executed in one blocking call. Any completed exchange gives
// a result whatever its status; judging it is the caller's business. Only a
// GET follows redirects (on its own origin, see RedirectGuard); any other
// method gets a 3xx as its answer, with the result's Location.
class KestroAgiRESTFul : public AbstractXmlParser {
public:
    static constexpr int METHOD_GET = 0;
    static constexpr int METHOD_POST = 1;
    static constexpr int METHOD_PUT = 2;
    static constexpr int METHOD_DELETE = 3;
    // "GET", "POST", "PUT", "DELETE"; "?" for anything else.
    static const char* methodName(int method);

    // Bounds of one exchange. A call must never wait forever on the back
    // office; deployed back offices use self-signed certificates, so TLS
    // verification is off unless asked for.
    struct TransferOptions {
        long connectSeconds = 3;
        long totalSeconds = 10;
        bool verifyTls = false;
        std::string caFile;  // empty: the system's CA store
        // Connections to reuse; null: the process's cache of the caller's path.
        ConnectionCache* cache = nullptr;
        // The call's "stop waiting" latch: set when an exchange runs out of
        // time; once set, every later exchange fails at once. May be null.
        std::atomic<bool>* giveUp = nullptr;
        // The exchange is abandoned once this is set (a stop request) or
        // once `deadline` passes (none when it is the clock's epoch); neither
        // touches giveUp. May be null.
        const std::atomic<bool>* cancel = nullptr;
        std::chrono::steady_clock::time_point deadline{};
        // A deadline that may be set while the exchange is under way:
        // steady-clock nanoseconds since its epoch, 0 for none. May be null.
        const std::atomic<long long>* cutAt = nullptr;
        // Where a failed exchange says why; may be null.
        TransferFault* fault = nullptr;
    };

    // A response body larger than this fails the transfer.
    static constexpr std::size_t kMaxResponseBytes = 16u * 1024u * 1024u;

    using TextMap = std::map<std::string, std::string>;

    KestroAgiRESTFul() = default;
    KestroAgiRESTFul(const KestroAgiRESTFul&) = delete;
    KestroAgiRESTFul& operator=(const KestroAgiRESTFul&) = delete;
    ~KestroAgiRESTFul();

    bool loadFromXML(xmlNode* node) override;
    bool toXML(const char* target) override;

    void setUrl(const char* value);
    const char* getUrl() const { return url.get(); }
    void setBody(const char* value);
    const char* getBody() const { return body.get(); }

    void setMethod(int value) { method = value; }
    // "get" (or null), "post", "put", "delete" in any case; other names
    // leave the method as it is.
    void setMethod(const char* name);
    int getMethod() const { return method; }

    // False when the name is null or already present (the first value stays).
    bool setHeader(const char* name, const char* value);
    bool setParameter(const char* name, const char* value);
    const TextMap& getHeaders() const { return headers; }
    const TextMap& getParameters() const { return parameters; }

    void setTimeouts(long connectSeconds, long totalSeconds);
    void setTlsVerification(bool verify, const char* caFile);
    // The connection cache and give-up latch of TransferOptions.
    void setSharing(ConnectionCache* cache, std::atomic<bool>* giveUp);
    const TransferOptions& getTransferOptions() const { return options; }
    // The stop flag and moving deadline of TransferOptions.
    void setCancel(const std::atomic<bool>* flag, const std::atomic<long long>* cutAt) {
        options.cancel = flag;
        options.cutAt = cutAt;
    }
    // Where a failed exchange says why (see TransferOptions::fault).
    void setFaultTarget(TransferFault* target) { options.fault = target; }

    // The caller owns the result; null when the transfer failed.
    KestroAgiDataSourceResult* execute();

    static KestroAgiDataSourceResult* request(int method, const char* url, const TextMap& headers,
                                              const TextMap& parameters, const char* body);
    static KestroAgiDataSourceResult* request(int method, const char* url, const TextMap& headers,
                                              const TextMap& parameters, const char* body,
                                              const TransferOptions& options);

    // Sets libcurl up for the process now rather than at the first request
    // (a service does it once before it forks its calls). Idempotent.
    static void initialiseLibrary();

    // libcurl write callback: appends to the std::string given as target.
    static std::size_t callbackDataWrite(void* data, std::size_t size, std::size_t count, void* target);
    // Same body; never installed (uploads never read from anywhere).
    static std::size_t callbackDataRead(void* data, std::size_t size, std::size_t count, void* target);

    bool loadHeadersFromXml(xmlNode* node);
    bool loadParametersFromXml(xmlNode* node);

private:
    int method = METHOD_GET;
    TextMap headers;
    TextMap parameters;
    CText body;
    CText url;
    TransferOptions options;
};

}  // namespace tarvik
