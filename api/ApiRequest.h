#pragma once

#include <memory>
#include <string>

#include <json/json.h>

#include "api/BackOfficeRecord.h"
#include "api/BackOfficeTable.h"
#include "api/KestroAgiDataSourceResult.h"
#include "api/KestroAgiRESTFul.h"
#include "configuration/Configuration.h"

namespace tarvik {

// The frame every back-office request shares: the bearer token in
// "PreAuthorization", the plugin identity headers, an optional "Addon-Lumora"
// header from the call's marks, a compact JSON body, execution against the
// base URI, and the reading of a JSON answer. Failures are raised as
// ApiFailure with the text the operation names.
class ApiRequest {
public:
    using Result = std::unique_ptr<KestroAgiDataSourceResult>;

    ApiRequest(Configuration& configuration, const KestroAgiRESTFul::TransferOptions& options, int method);
    // A request of one of the table's operations, with its method.
    ApiRequest(Configuration& configuration, const KestroAgiRESTFul::TransferOptions& options,
               const BackOfficeTable::Row& operation);

    // The table's row of the request; null for one made by method alone.
    const BackOfficeTable::Row* operation() const { return row; }

    // The request drops CR and LF from names and values, so a caller's
    // number never opens a header line of its own.
    void setHeader(const char* name, const std::string& value);

    // Sets "Addon-Lumora" when the call has the mark "header-lumora";
    // returns the mark's text, or null without it.
    const char* addLumoraHeader();

    // Compact JSON: no whitespace, members in key order, one newline at the end.
    void setJsonBody(const Json::Value& body);

    // Executes against base URI + path; no result raises transferFailure.
    Result execute(const std::string& path, const std::string& transferFailure);

    // The same in two steps, so the exchange can travel on another thread:
    // prepare reads the configuration, send touches nothing but the request
    // (null when the transfer failed).
    void prepare(const std::string& path);
    Result send();
    // Why the last send gave no result.
    TransferFault lastFault() const { return fault; }
    // For the caller's path: a redirect answering anything but a GET (never
    // followed, see KestroAgiRESTFul) becomes no result, with one line on
    // standard error, so the operation fails as it does without an answer.
    // A record is judged on the answer itself, before this.
    Result unlessRedirected(Result result) const;
    // Sends over this connection cache instead of the options' one.
    void useConnections(ConnectionCache* cache);
    // Same method, address, headers and body.
    bool sameAs(const ApiRequest& other) const;

    // This request as a record that can wait in a queue or in the spool:
    // everything but the base URI and the access token.
    // Its kind and path are its operation's.
    BackOfficeRecord toRecord(const std::string& failureText) const;
    // Sends a record with the given address and token, the way execute does.
    static Result sendRecord(const BackOfficeRecord& record, const std::string& baseUri, const std::string& token,
                             const KestroAgiRESTFul::TransferOptions& options);

    // The body as JSON (comments kept); a missing body, a syntax error or an
    // over-deep document raises parseFailure.
    static Json::Value parseBody(const KestroAgiDataSourceResult& result, const std::string& parseFailure);

    // The member key of an object, or null (also when value is no object).
    static const Json::Value* findMember(const Json::Value& value, const char* key);

    static std::string compactJson(const Json::Value& value);

private:
    Configuration& configuration;
    KestroAgiRESTFul request;
    TransferFault fault = TransferFault::none;
    const BackOfficeTable::Row* row = nullptr;
};

}  // namespace tarvik
