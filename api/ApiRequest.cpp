#include "api/ApiRequest.h"

#include <cstring>
#include <exception>

#include "api/ApiFailure.h"
#include "util/JsonText.h"

namespace tarvik {

ApiRequest::ApiRequest(Configuration& configuration, const KestroAgiRESTFul::TransferOptions& options, int method)
    : configuration(configuration) {
    request.setMethod(method);
    request.setTimeouts(options.connectSeconds, options.totalSeconds);
    request.setTlsVerification(options.verifyTls, options.caFile.empty() ? nullptr : options.caFile.c_str());
    setHeader("PreAuthorization", "Bearer " + configuration.getAccessToken());
    setHeader("x-ivr-plugin-id", configuration.getPluginId());
    setHeader("x-ivr-plugin-driver", configuration.getPluginDriver());
}

void ApiRequest::setHeader(const char* name, const std::string& value) { request.setHeader(name, value.c_str()); }

const char* ApiRequest::addLumoraHeader() {
    const char* lumora = configuration.getMark("header-lumora");
    if (lumora != nullptr) setHeader("Addon-Lumora", lumora);
    return lumora;
}

void ApiRequest::setJsonBody(const Json::Value& body) { request.setBody(compactJson(body).c_str()); }

ApiRequest::Result ApiRequest::execute(const std::string& path, const std::string& transferFailure) {
    request.setUrl((configuration.getBaseUri() + path).c_str());
    Result result(request.execute());
    if (!result) throw ApiFailure(transferFailure);
    return result;
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
