#include "api/FlowRequests.h"

#include <json/json.h>

#include "api/ApiFailure.h"

namespace tarvik {

const char* const FlowRequests::kRecallOwner = "orvel.ivr";
const char* const FlowRequests::kRecallRegisterPath = "/service/v1/recall/meta/register";
const char* const FlowRequests::kEventPath = "/service/v1/integration/log";

namespace {
const char* const kAddonModule = "kestro-addon";
}  // namespace

Configuration& FlowRequests::require() const {
    if (configuration == nullptr) throw ApiFailure("configuration is empty");
    return *configuration;
}

std::unique_ptr<ApiRequest> FlowRequests::post(Configuration& config) const {
    auto request = std::make_unique<ApiRequest>(config, options, KestroAgiRESTFul::METHOD_POST);
    request->addLumoraHeader();
    return request;
}

std::unique_ptr<ApiRequest> FlowRequests::sendInvoice(ISPClient* client, ISPSignature* signature,
                                                      const std::string& phone) const {
    if (client == nullptr || signature == nullptr) throw ApiFailure("client or signature is empty");
    Configuration& config = require();
    const std::string& endpoint = config.getEndpointFindInvoiceSend();
    if (phone.empty() || config.getAccessToken().empty() || endpoint.empty()) {
        throw ApiFailure("phone, access token or endpoint to unlock client is empty");
    }
    auto request = post(config);
    Json::Value body(Json::objectValue);
    body["contract"] = signature->getId();
    body["document"] = client->getDocument();
    body["phone"] = phone;
    request->setJsonBody(body);
    request->prepare(endpoint);
    return request;
}

std::unique_ptr<ApiRequest> FlowRequests::externalProtocol(ISPClient* client, ISPSignature* signature) const {
    if (client == nullptr || client->getDocument().empty()) throw ApiFailure("client is invalid");
    // The body names the contract: without one there is nothing to ask.
    if (signature == nullptr) throw ApiFailure("client or signature is invalid");
    Configuration& config = require();
    const std::string& endpoint = config.getEndpointExternalProtocol();
    const std::string& callerId = config.getCallerId();
    if (config.getProtocol().empty() || config.getChannel().empty() || callerId.empty() ||
        config.getAccessToken().empty() || endpoint.empty()) {
        throw ApiFailure("phone, protocol, channel, access token or endpoint to get external protocol is empty");
    }
    auto request = post(config);
    Json::Value body(Json::objectValue);
    body["channel"] = config.getChannel();
    body["contract"] = signature->getId();
    body["document"] = client->getDocument();
    body["phone"] = callerId;
    body["protocol"] = config.getProtocol();
    request->setJsonBody(body);
    request->prepare(endpoint);
    return request;
}

std::unique_ptr<ApiRequest> FlowRequests::recallRegistration(const std::string& document, const std::string& phone,
                                                             const std::string& uniqueId) const {
    Configuration& config = require();
    if (document.empty() || phone.empty() || uniqueId.empty() || config.getAccessToken().empty()) {
        throw ApiFailure("failure on add to recall, document, phone, protocol or access token is empty");
    }
    auto request = post(config);
    Json::Value body(Json::objectValue);
    body["destination"] = kRecallOwner;
    body["document"] = document;
    body["e164"] = phone;
    body["module"] = kAddonModule;
    body["uniqueId"] = uniqueId;
    request->setJsonBody(body);
    request->prepare(kRecallRegisterPath);
    return request;
}

std::unique_ptr<ApiRequest> FlowRequests::recallSearch(const std::string& document) const {
    Configuration& config = require();
    auto request = post(config);
    Json::Value body(Json::objectValue);
    body["destination"] = kRecallOwner;
    body["document"] = document;
    request->setJsonBody(body);
    request->prepare("/service/v1/recall/meta/search");
    return request;
}

std::unique_ptr<ApiRequest> FlowRequests::event(const std::string& eventName, const std::string& module,
                                                const std::string& data) const {
    Configuration& config = require();
    const std::string& protocol = config.getProtocol();
    const std::string& callerId = config.getCallerId();
    if (protocol.empty() || callerId.empty() || config.getAccessToken().empty()) {
        throw ApiFailure("failure on save event, protocol, phone or access token is empty");
    }
    auto request = post(config);
    Json::Value body(Json::objectValue);
    body["data"] = data;
    body["event"] = eventName;
    body["module"] = module;
    body["source"] = callerId;
    body["uniqueId"] = protocol;
    request->setJsonBody(body);
    request->prepare(kEventPath);
    return request;
}

BackOfficeRecord FlowRequests::recallRecord(const ApiRequest& request, const std::string& document) {
    return request.toRecord("recall", kRecallRegisterPath, "failure on save recall " + document);
}

BackOfficeRecord FlowRequests::eventRecord(const ApiRequest& request, const std::string& data) {
    return request.toRecord("event", kEventPath, "failure on add event with data" + data);
}

}  // namespace tarvik
