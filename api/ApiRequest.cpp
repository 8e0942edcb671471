#include "api/ApiRequest.h"

#include <cstdio>
#include <cstring>
#include <exception>

#include "api/ApiFailure.h"
#include "util/BoundedFormat.h"
#include "util/JsonText.h"

namespace tarvik {

namespace {

const char* const kTokenHeader = "PreAuthorization";

}  // namespace

ApiRequest::ApiRequest(Configuration& configuration, const KestroAgiRESTFul::TransferOptions& options, int method)
    : configuration(configuration) {
    request.setMethod(method);
    request.setTimeouts(options.connectSeconds, options.totalSeconds);
    request.setTlsVerification(options.verifyTls, options.caFile.empty() ? nullptr : options.caFile.c_str());
    request.setSharing(options.cache, options.giveUp);
    request.setCancel(options.cancel, options.cutAt);
    request.setFaultTarget(&fault);
    setHeader(kTokenHeader, "Bearer " + configuration.getAccessToken());
    setHeader("x-ivr-plugin-id", configuration.getPluginId());
    setHeader("x-ivr-plugin-driver", configuration.getPluginDriver());
}

ApiRequest::ApiRequest(Configuration& configuration, const KestroAgiRESTFul::TransferOptions& options,
                       const BackOfficeTable::Row& operation)
    : ApiRequest(configuration, options, operation.method) {
    row = &operation;
}

void ApiRequest::setHeader(const char* name, const std::string& value) { request.setHeader(name, value.c_str()); }

const char* ApiRequest::addLumoraHeader() {
    const char* lumora = configuration.getMark("header-lumora");
    if (lumora != nullptr) setHeader("Addon-Lumora", lumora);
    return lumora;
}

void ApiRequest::setJsonBody(const Json::Value& body) { request.setBody(compactJson(body).c_str()); }

ApiRequest::Result ApiRequest::execute(const std::string& path, const std::string& transferFailure) {
    prepare(path);
    Result result = unlessRedirected(send());
    if (!result) throw ApiFailure(transferFailure);
    return result;
}

void ApiRequest::prepare(const std::string& path) { request.setUrl((configuration.getBaseUri() + path).c_str()); }

ApiRequest::Result ApiRequest::send() {
    fault = TransferFault::none;
    return Result(request.execute());
}

ApiRequest::Result ApiRequest::unlessRedirected(Result result) const {
    if (!result || !result->isRedirect() || request.getMethod() == KestroAgiRESTFul::METHOD_GET) return result;
    const char* method = KestroAgiRESTFul::methodName(request.getMethod());
    const std::string& location = result->getLocation();
    // Standard output is the AGI channel.
    std::fputs(formatBounded("answer %d redirecting to %s not followed: a %s is never sent again without its body\n",
                             result->getCode(), location.empty() ? "(no Location)" : location.c_str(), method)
                   .c_str(),
               stderr);
    return Result();
}

void ApiRequest::useConnections(ConnectionCache* cache) {
    request.setSharing(cache, request.getTransferOptions().giveUp);
}

bool ApiRequest::sameAs(const ApiRequest& other) const {
    auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
    return request.getMethod() == other.request.getMethod() && text(request.getUrl()) == text(other.request.getUrl()) &&
           request.getHeaders() == other.request.getHeaders() &&
           text(request.getBody()) == text(other.request.getBody());
}

BackOfficeRecord ApiRequest::toRecord(const std::string& failureText) const {
    BackOfficeRecord record;
    record.kind = row != nullptr && row->recordKind != nullptr ? row->recordKind : "";
    record.method = request.getMethod();
    record.path = row != nullptr ? row->pattern : "";
    record.headers = request.getHeaders();
    record.headers.erase(kTokenHeader);
    record.body = request.getBody() != nullptr ? request.getBody() : "";
    record.failureText = failureText;
    return record;
}

ApiRequest::Result ApiRequest::sendRecord(const BackOfficeRecord& record, const std::string& baseUri,
                                          const std::string& token, const KestroAgiRESTFul::TransferOptions& options) {
    KestroAgiRESTFul::TextMap headers = record.headers;
    headers[kTokenHeader] = "Bearer " + token;
    return Result(KestroAgiRESTFul::request(record.method, (baseUri + record.path).c_str(), headers,
                                            KestroAgiRESTFul::TextMap(), record.body.c_str(), options));
}

Json::Value ApiRequest::parseBody(const KestroAgiDataSourceResult& result, const std::string& parseFailure) {
    const char* text = result.getText();
    if (text == nullptr) throw ApiFailure(parseFailure);
    Json::Value value;
    if (!JsonText::parse(std::string(text), value, true)) throw ApiFailure(parseFailure);
    return value;
}

const Json::Value* ApiRequest::findMember(const Json::Value& value, const char* key) {
    if (!value.isObject()) return nullptr;
    return value.find(key, key + std::strlen(key));
}

std::string ApiRequest::compactJson(const Json::Value& value) {
    Json::FastWriter writer;
    return writer.write(value);
}

}  // namespace tarvik
