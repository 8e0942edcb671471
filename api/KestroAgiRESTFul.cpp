#include "api/KestroAgiRESTFul.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <strings.h>

#include <curl/curl.h>

#include "api/ConnectionCache.h"
#include "api/RedirectGuard.h"
#include "util/BoundedFormat.h"
#include "util/TransferObserver.h"
#include "util/XmlTools.h"

namespace tarvik {

namespace {

// libcurl is set up once per process. The requests on the caller's path
// share one connection cache, so a whole call talks to the back office over
// one connection instead of opening one per request.
class CurlProcess {
public:
    CurlProcess() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        cache = std::make_unique<ConnectionCache>();
    }
    ~CurlProcess() {
        cache.reset();
        curl_global_cleanup();
    }
    CurlProcess(const CurlProcess&) = delete;
    CurlProcess& operator=(const CurlProcess&) = delete;

    ConnectionCache& sharedCache() const { return *cache; }

private:
    std::unique_ptr<ConnectionCache> cache;
};

CurlProcess& curlProcess() {
    static CurlProcess process;
    return process;
}

// Abandons a transfer that was cancelled or ran past its deadline; libcurl
// asks at least about once a second, also while nothing moves.
bool pastCut(const KestroAgiRESTFul::TransferOptions& options) {
    if (options.cutAt == nullptr) return false;
    const long long cut = options.cutAt->load();
    return cut != 0 && std::chrono::steady_clock::now().time_since_epoch().count() >= cut;
}

int stopWhenAsked(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* options = static_cast<const KestroAgiRESTFul::TransferOptions*>(data);
    if ((options->cancel != nullptr && options->cancel->load()) || pastCut(*options)) return 1;
    const bool bounded = options->deadline != std::chrono::steady_clock::time_point();
    return bounded && std::chrono::steady_clock::now() >= options->deadline ? 1 : 0;
}

TransferFault faultOf(CURLcode outcome) {
    switch (outcome) {
        case CURLE_OPERATION_TIMEDOUT: return TransferFault::timeout;
        case CURLE_ABORTED_BY_CALLBACK: return TransferFault::cancelled;
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_SSL_CONNECT_ERROR: return TransferFault::connection;
        default: return TransferFault::other;
    }
}

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
// One easy handle per thread, reset before each request: libcurl makes its
// own multi handle (and that one's wake-up socket pair) once per handle, so a
// handle kept across requests saves that set-up and tear-down on every one.
// The service's parent never makes a request, so no handle crosses a fork.
CURL* threadEasyHandle() {
    thread_local std::unique_ptr<CURL, EasyCleanup> handle;
    if (handle) {
        curl_easy_reset(handle.get());
    } else {
        handle.reset(curl_easy_init());
    }
    return handle.get();
}

struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct XmlTextCleanup {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using XmlText = std::unique_ptr<xmlChar, XmlTextCleanup>;

// A header name or value must never open a line of its own.
std::string withoutLineBreaks(const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            clean.push_back(c);
        }
    }
    return clean;
}

curl_slist* buildHeaderList(const KestroAgiRESTFul::TextMap& headers) {
    curl_slist* list = nullptr;
    for (const auto& [name, value] : headers) {
        const std::string line =
            formatBounded("%s: %s", withoutLineBreaks(name).c_str(), withoutLineBreaks(value).c_str());
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown == nullptr) {
            break;
        }
        list = grown;
    }
    return list;
}

std::string buildParameterString(const KestroAgiRESTFul::TextMap& parameters) {
    std::string joined;
    for (const auto& [name, value] : parameters) {
        if (!joined.empty()) {
            joined += "&";
        }
        joined += name + "=" + value;
    }
    return joined;
}

// TLS failures name their cause ("certificate has expired"), which
// libcurl's short description of the code does not.
bool isTlsFailure(CURLcode outcome) {
    switch (outcome) {
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return true;
        default:
            return false;
    }
}

// The one line a failed transfer leaves on standard error.
std::string describeFailure(CURLcode outcome, const char* detail, const RedirectGuard& redirects) {
    if (!redirects.refusedLocation().empty()) {
        return formatBounded("curl_easy_perform() failed: redirect to %s refused: not on %s\n",
                             redirects.refusedLocation().c_str(), redirects.allowedOrigin().c_str());
    }
    if (isTlsFailure(outcome) && detail[0] != '\0') {
        return formatBounded("curl_easy_perform() failed: %s: %s\n", curl_easy_strerror(outcome), detail);
    }
    return formatBounded("curl_easy_perform() failed: %s\n", curl_easy_strerror(outcome));
}

std::string trimmed(const char* text) {
    std::string value = text == nullptr ? "" : text;
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// The last answer's header `name`, or empty.
std::string answerHeader(CURL* curl, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || header == nullptr) {
        return std::string();
    }
    return trimmed(header->value);
}

// "Retry-After" as whole seconds or as an HTTP date, capped. Read here, not
// through CURLINFO_RETRY_AFTER: libcurl before 8.12 gives a past date as a
// negative wait, and 7.88 takes "10abc" for ten seconds and a number too
// long for it as no wait at all.
long retryAfterOf(CURL* curl) {
    const std::string value = answerHeader(curl, "Retry-After");
    if (value.empty()) return 0;
    const long cap = KestroAgiDataSourceResult::kMaxRetryAfterSeconds;
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        long seconds = 0;
        for (char digit : value) {
            seconds = seconds * 10 + (digit - '0');
            if (seconds >= cap) return cap;  // before it could overflow
        }
        return seconds;
    }
    const std::time_t date = curl_getdate(value.c_str(), nullptr);
    const std::time_t now = std::time(nullptr);
    if (date == -1 || date <= now) return 0;
    return date - now >= cap ? cap : static_cast<long>(date - now);
}

// Where a redirect not followed points: libcurl's absolute form of its
// Location, or the header as it came when libcurl could not resolve it.
std::string locationOf(CURL* curl) {
    char* absolute = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &absolute) == CURLE_OK && absolute != nullptr) {
        return absolute;
    }
    return answerHeader(curl, "Location");
}

// Never hands out upload data: a request must not read the AGI channel.
std::size_t noUploadData(char*, std::size_t, std::size_t, void*) { return 0; }

std::string attributeText(xmlAttr* attribute) {
    XmlText value(xmlNodeListGetString(attribute->doc, attribute->children, 1));
    return value ? reinterpret_cast<const char*>(value.get()) : "";
}

bool named(const xmlAttr* attribute, const char* name) {
    return xmlStrcmp(attribute->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

bool named(const xmlNode* node, const char* name) {
    return xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

// Reads the "header"/"parameter" children of `node` into `store`; false at
// the first child that is not one, or that lacks its field or value.
bool loadPairsFromXml(xmlNode* node, const char* tag, KestroAgiRESTFul& request,
                      bool (KestroAgiRESTFul::*store)(const char*, const char*)) {
    for (xmlNode* child = XmlTools::getElementNode(node == nullptr ? nullptr : node->children); child != nullptr;
         child = XmlTools::getElementNode(child->next)) {
        if (strcasecmp(reinterpret_cast<const char*>(child->name), tag) != 0) return false;
        std::string field;
        std::string value;
        for (xmlAttr* attribute = child->properties; attribute != nullptr; attribute = attribute->next) {
            if (named(attribute, "field")) {
                field = attributeText(attribute);
            } else if (named(attribute, "value")) {
                value = attributeText(attribute);
            } else {
                return false;
            }
        }
        if (field.empty() || value.empty()) return false;
        (request.*store)(field.c_str(), value.c_str());
    }
    return true;
}

}  // namespace

KestroAgiRESTFul::~KestroAgiRESTFul() {
    body.reset();
    url.reset();
    headers.clear();
    parameters.clear();
}

void KestroAgiRESTFul::setUrl(const char* value) { url.reset(duplicateText(value)); }

void KestroAgiRESTFul::setBody(const char* value) { body.reset(duplicateText(value)); }

void KestroAgiRESTFul::setMethod(const char* name) {
    if (name == nullptr || strcasecmp(name, "get") == 0) {
        method = METHOD_GET;
    } else if (strcasecmp(name, "post") == 0) {
        method = METHOD_POST;
    } else if (strcasecmp(name, "put") == 0) {
        method = METHOD_PUT;
    } else if (strcasecmp(name, "delete") == 0) {
        method = METHOD_DELETE;
    }
}

bool KestroAgiRESTFul::setHeader(const char* name, const char* value) {
    if (name == nullptr || value == nullptr) {
        return false;
    }
    return headers.emplace(name, value).second;
}

bool KestroAgiRESTFul::setParameter(const char* name, const char* value) {
    if (name == nullptr || value == nullptr) {
        return false;
    }
    return parameters.emplace(name, value).second;
}

void KestroAgiRESTFul::setTimeouts(long connectSeconds, long totalSeconds) {
    // Zero would mean "wait forever" to libcurl: keep the defaults instead.
    const TransferOptions defaults;
    options.connectSeconds = connectSeconds > 0 ? connectSeconds : defaults.connectSeconds;
    options.totalSeconds = totalSeconds > 0 ? totalSeconds : defaults.totalSeconds;
}

void KestroAgiRESTFul::setSharing(ConnectionCache* cache, std::atomic<bool>* giveUp) {
    options.cache = cache;
    options.giveUp = giveUp;
}

void KestroAgiRESTFul::setTlsVerification(bool verify, const char* caFile) {
    options.verifyTls = verify;
    options.caFile = caFile == nullptr ? "" : caFile;
}

KestroAgiDataSourceResult* KestroAgiRESTFul::execute() {
    return request(getMethod(), getUrl(), headers, parameters, getBody(), options);
}

KestroAgiDataSourceResult* KestroAgiRESTFul::request(int method, const char* url, const TextMap& headers,
                                                     const TextMap& parameters, const char* body) {
    return request(method, url, headers, parameters, body, TransferOptions());
}

KestroAgiDataSourceResult* KestroAgiRESTFul::request(int method, const char* url, const TextMap& headers,
                                                     const TextMap& parameters, const char* body,
                                                     const TransferOptions& options) {
    // A back office that let one exchange of this call run out of time is
    // not waited on again: the call goes on along its failure paths.
    if (options.giveUp != nullptr && options.giveUp->load()) {
        if (options.fault != nullptr) *options.fault = TransferFault::timeout;
        return nullptr;
    }
    if ((options.cancel != nullptr && options.cancel->load()) || pastCut(options)) {
        if (options.fault != nullptr) *options.fault = TransferFault::cancelled;
        return nullptr;
    }
    const bool bounded = options.deadline != std::chrono::steady_clock::time_point();
    long connectMs = options.connectSeconds * 1000;
    long totalMs = options.totalSeconds * 1000;
    if (bounded) {
        const long leftMs = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  options.deadline - std::chrono::steady_clock::now())
                                                  .count());
        if (leftMs <= 0) {
            if (options.fault != nullptr) *options.fault = TransferFault::timeout;
            return nullptr;
        }
        // Zero means "no limit" to libcurl: a limit is never raised to it.
        connectMs = connectMs > 0 ? std::min(connectMs, leftMs) : leftMs;
        totalMs = totalMs > 0 ? std::min(totalMs, leftMs) : leftMs;
    }
    CURLSH* sharedCache = (options.cache != nullptr ? *options.cache : curlProcess().sharedCache()).handle();
    CURL* curl = threadEasyHandle();
    if (curl == nullptr) {
        return nullptr;
    }
    const char* target = url == nullptr ? "" : url;

    curl_easy_setopt(curl, CURLOPT_URL, target);
    // Only a GET follows a redirect: libcurl would send a POST again where a
    // 301 or 302 points without its body, and the answer to that empty one
    // would count for the record. Any other method gets the 3xx as its answer.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, method == METHOD_GET ? 1L : 0L);
    RedirectGuard redirects(curl, target);
    char errorDetail[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorDetail);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, totalMs);
    if (options.cancel != nullptr || options.cutAt != nullptr || bounded) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, stopWhenAsked);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &options);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBytes));
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, noUploadData);
    if (sharedCache != nullptr) {
        curl_easy_setopt(curl, CURLOPT_SHARE, sharedCache);
    }
    if (options.verifyTls) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!options.caFile.empty()) {
            curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
        }
    } else {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    std::unique_ptr<curl_slist, ListCleanup> headerList(buildHeaderList(headers));
    if (headerList) {
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());
    }

    // libcurl keeps pointers to these until the transfer ends.
    const std::string parameterString = buildParameterString(parameters);
    // Plain concatenation: a bounded format would cut a long URL into the
    // address of another resource.
    const std::string urlWithQuery = parameterString.empty() ? std::string(target) : std::string(target) + "?" + parameterString;

    switch (method) {
        case METHOD_POST:
            curl_easy_setopt(curl, CURLOPT_POST, 1L);
            if (body != nullptr) {
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
                curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "POST");
            } else if (!parameterString.empty()) {
                curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "POST");
                curl_easy_setopt(curl, CURLOPT_POST, 1L);
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, parameterString.c_str());
            } else {
                // Nothing to post: an empty body, never standard input.
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
            }
            break;
        case METHOD_PUT:
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
            if (body != nullptr) {
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body);
            } else if (!parameterString.empty()) {
                curl_easy_setopt(curl, CURLOPT_POSTFIELDS, parameterString.c_str());
            }
            break;
        case METHOD_DELETE:
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
            curl_easy_setopt(curl, CURLOPT_URL, urlWithQuery.c_str());
            break;
        case METHOD_GET:
            curl_easy_setopt(curl, CURLOPT_URL, urlWithQuery.c_str());
            curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
            break;
        default:
            break;
    }

    std::string received;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, callbackDataWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);

    const CURLcode outcome = curl_easy_perform(curl);
    KestroAgiDataSourceResult* result = nullptr;
    double seconds = 0;
    curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME, &seconds);
    if (outcome == CURLE_OK || outcome == CURLE_HTTP_RETURNED_ERROR) {
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        result = new KestroAgiDataSourceResult();
        result->setCode(static_cast<int>(code));
        result->setRetryAfter(retryAfterOf(curl));
        if (result->isRedirect()) result->setLocation(locationOf(curl));
        TransferObserver::report(target, code, seconds);
        if (outcome == CURLE_OK) {
            result->setText(received.c_str());
        }
    } else {
        if (outcome == CURLE_OPERATION_TIMEDOUT && options.giveUp != nullptr) options.giveUp->store(true);
        if (options.fault != nullptr) *options.fault = faultOf(outcome);
        // Standard output is the AGI channel: failures go to standard error.
        std::fputs(describeFailure(outcome, errorDetail, redirects).c_str(), stderr);
        TransferObserver::report(target, 0, seconds);
    }
    return result;
}

std::size_t KestroAgiRESTFul::callbackDataWrite(void* data, std::size_t size, std::size_t count, void* target) {
    const std::size_t length = size * count;
    auto* buffer = static_cast<std::string*>(target);
    // A body this large is not a back-office answer: fail the transfer
    // rather than exhaust memory.
    if (length > kMaxResponseBytes - buffer->size()) {
        return 0;
    }
    try {
        buffer->append(static_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return length;
}

std::size_t KestroAgiRESTFul::callbackDataRead(void* data, std::size_t size, std::size_t count, void* target) {
    return callbackDataWrite(data, size, count, target);
}

bool KestroAgiRESTFul::loadFromXML(xmlNode* node) {
    if (node == nullptr) {
        return false;
    }
    for (xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        if (named(attribute, "method")) {
            setMethod(attributeText(attribute).c_str());
        } else if (named(attribute, "url")) {
            setUrl(attributeText(attribute).c_str());
        } else {
            return false;
        }
    }
    CText content(XmlTools::getElementContent(node));
    if (content) {
        setBody(content.get());
    }
    for (xmlNode* child = XmlTools::getElementNode(node->children); child != nullptr;
         child = XmlTools::getElementNode(child->next)) {
        if (named(child, "headers")) {
            if (!loadHeadersFromXml(child)) {
                return false;
            }
        } else if (named(child, "parameters")) {
            if (!loadParametersFromXml(child)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool KestroAgiRESTFul::toXML(const char*) { return false; }

bool KestroAgiRESTFul::loadHeadersFromXml(xmlNode* node) {
    return loadPairsFromXml(node, "header", *this, &KestroAgiRESTFul::setHeader);
}

bool KestroAgiRESTFul::loadParametersFromXml(xmlNode* node) {
    return loadPairsFromXml(node, "parameter", *this, &KestroAgiRESTFul::setParameter);
}

void KestroAgiRESTFul::initialiseLibrary() { curlProcess(); }

const char* KestroAgiRESTFul::methodName(int method) {
    switch (method) {
        case METHOD_GET: return "GET";
        case METHOD_POST: return "POST";
        case METHOD_PUT: return "PUT";
        case METHOD_DELETE: return "DELETE";
        default: return "?";
    }
}

}  // namespace tarvik
