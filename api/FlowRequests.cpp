#include "api/FlowRequests.h"

#include "api/ApiFailure.h"
#include "api/UrlPathEncoding.h"

namespace tarvik {

const char* const FlowRequests::kRecallOwner = "orvel.ivr";

namespace {
const char* const kAddonModule = "kestro-addon";
}  // namespace

Configuration& FlowRequests::require() const {
    if (configuration == nullptr) throw ApiFailure("configuration is empty");
    return *configuration;
}

std::unique_ptr<ApiRequest> FlowRequests::build(Operation operation, Configuration& config, const Json::Value& body,
                                                const std::string& value) const {
    auto request = std::make_unique<ApiRequest>(config, options, BackOfficeTable::row(operation));
    // The remote log names its body's type instead of carrying the mark.
    if (operation == Operation::logger) {
        request->setHeader("Content-Type", "application/json");
    } else {
        request->addLumoraHeader();
    }
    if (!body.isNull()) request->setJsonBody(body);
    request->prepare(BackOfficeTable::path(operation, config) + value);
    return request;
}

std::unique_ptr<ApiRequest> FlowRequests::lookup(Operation operation, Configuration& config, const std::string& value,
                                                 const std::string& phone, const std::string& protocol) const {
    auto request = std::make_unique<ApiRequest>(config, options, BackOfficeTable::row(operation));
    request->setHeader("x-ivr-phone", phone);
    request->setHeader("x-ivr-protocol", protocol);
    request->addLumoraHeader();
    request->prepare(BackOfficeTable::path(operation, config) + UrlPathEncoding::encodeSegment(value));
    return request;
}

Json::Value FlowRequests::contractBody(ISPClient& client, ISPSignature& signature) {
    Json::Value body(Json::objectValue);
    body["contract"] = signature.getId();
    body["document"] = client.getDocument();
    return body;
}

std::unique_ptr<ApiRequest> FlowRequests::ready(const KestroAgiRESTFul::TransferOptions& bounded) const {
    return FlowRequests(configuration, bounded).build(Operation::ready, require(), Json::Value());
}

std::unique_ptr<ApiRequest> FlowRequests::findByPhone(const std::string& phone, const std::string& protocol) const {
    Configuration& config = require();
    if (phone.empty() || config.getAccessToken().empty() || config.getEndpointFindClientByPhone().empty()) {
        throw ApiFailure("phone, access token or endpoint to find client by phone is empty");
    }
    return lookup(Operation::findByPhone, config, phone, phone, protocol);
}

std::unique_ptr<ApiRequest> FlowRequests::findByDocument(const std::string& document, const std::string& phone,
                                                         const std::string& protocol) const {
    Configuration& config = require();
    if (document.empty() || config.getAccessToken().empty() || config.getEndpointFindClientByDocument().empty()) {
        throw ApiFailure("document, access token or endpoint to find client by document is empty");
    }
    return lookup(Operation::findByDocument, config, document, phone, protocol);
}

std::unique_ptr<ApiRequest> FlowRequests::unlock(ISPClient* client, ISPSignature* signature,
                                                 const std::string& phone) const {
    if (client == nullptr || signature == nullptr) throw ApiFailure("client or signature is empty");
    Configuration& config = require();
    if (phone.empty() || config.getAccessToken().empty() || config.getEndpointFindClientUnlock().empty()) {
        throw ApiFailure("phone, access token or endpoint to unlock client is empty");
    }
    return build(Operation::unlock, config, contractBody(*client, *signature));
}

std::unique_ptr<ApiRequest> FlowRequests::sendInvoice(ISPClient* client, ISPSignature* signature,
                                                      const std::string& phone) const {
    if (client == nullptr || signature == nullptr) throw ApiFailure("client or signature is empty");
    Configuration& config = require();
    if (phone.empty() || config.getAccessToken().empty() || config.getEndpointFindInvoiceSend().empty()) {
        throw ApiFailure("phone, access token or endpoint to unlock client is empty");
    }
    Json::Value body = contractBody(*client, *signature);
    body["phone"] = phone;
    return build(Operation::sendInvoice, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::informProtocol(ISPClient* client, ISPSignature* signature,
                                                         const std::string& protocol) const {
    if (client == nullptr || signature == nullptr || client->getDocument().empty() || signature->getId().empty()) {
        throw ApiFailure("client or signature is invalid");
    }
    Configuration& config = require();
    const std::string& callerId = config.getCallerId();
    if (protocol.empty() || callerId.empty() || config.getAccessToken().empty() ||
        config.getEndpointSendProtocol().empty()) {
        throw ApiFailure("phone, access token or endpoint to find client by phone is empty");
    }
    Json::Value body = contractBody(*client, *signature);
    body["phone"] = callerId;
    body["protocol"] = protocol;
    return build(Operation::informProtocol, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::externalProtocol(ISPClient* client, ISPSignature* signature) const {
    if (client == nullptr || client->getDocument().empty()) throw ApiFailure("client is invalid");
    // The body names the contract: without one there is nothing to ask.
    if (signature == nullptr) throw ApiFailure("client or signature is invalid");
    Configuration& config = require();
    const std::string& callerId = config.getCallerId();
    if (config.getProtocol().empty() || config.getChannel().empty() || callerId.empty() ||
        config.getAccessToken().empty() || config.getEndpointExternalProtocol().empty()) {
        throw ApiFailure("phone, protocol, channel, access token or endpoint to get external protocol is empty");
    }
    Json::Value body = contractBody(*client, *signature);
    body["channel"] = config.getChannel();
    body["phone"] = callerId;
    body["protocol"] = config.getProtocol();
    return build(Operation::externalProtocol, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::saveIdentification(ISPClient* client) const {
    if (client == nullptr || client->getDocument().empty()) throw ApiFailure("client is invalid");
    Configuration& config = require();
    const std::string& callerId = config.getCallerId();
    if (callerId.empty() || config.getAccessToken().empty() || config.getEndpointSaveIdentification().empty()) {
        throw ApiFailure("phone, access token or endpoint to find client by phone is empty");
    }
    Json::Value body(Json::objectValue);
    body["data1"] = "ivr";
    body["data2"] = config.getModuleName();
    body["data3"] = callerId;
    body["document"] = client->getDocument();
    body["phone"] = callerId;
    return build(Operation::saveIdentification, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::recallRegistration(const std::string& document, const std::string& phone,
                                                             const std::string& uniqueId) const {
    Configuration& config = require();
    if (document.empty() || phone.empty() || uniqueId.empty() || config.getAccessToken().empty()) {
        throw ApiFailure("failure on add to recall, document, phone, protocol or access token is empty");
    }
    Json::Value body(Json::objectValue);
    body["destination"] = kRecallOwner;
    body["document"] = document;
    body["e164"] = phone;
    body["module"] = kAddonModule;
    body["uniqueId"] = uniqueId;
    return build(Operation::recallRegistration, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::recallSearch(const std::string& document) const {
    Configuration& config = require();
    Json::Value body(Json::objectValue);
    body["destination"] = kRecallOwner;
    body["document"] = document;
    return build(Operation::recallSearch, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::event(const std::string& eventName, const std::string& module,
                                                const std::string& data) const {
    Configuration& config = require();
    const std::string& protocol = config.getProtocol();
    const std::string& callerId = config.getCallerId();
    if (protocol.empty() || callerId.empty() || config.getAccessToken().empty()) {
        throw ApiFailure("failure on save event, protocol, phone or access token is empty");
    }
    Json::Value body(Json::objectValue);
    body["data"] = data;
    body["event"] = eventName;
    body["module"] = module;
    body["source"] = callerId;
    body["uniqueId"] = protocol;
    return build(Operation::event, config, body);
}

std::unique_ptr<ApiRequest> FlowRequests::logger(const std::string& destination, const std::string& eventType,
                                                 const char* const (&data)[5]) const {
    const char* const missing = "failure on set logger module name,  callerId, protocol, channel or accessToken is empty";
    if (configuration == nullptr) throw ApiFailure(missing);
    Configuration& config = *configuration;
    const std::string& callerId = config.getCallerId();
    const std::string& protocol = config.getProtocol();
    if (config.getModuleName().empty() || callerId.empty() || protocol.empty() || config.getChannel().empty() ||
        config.getAccessToken().empty() || destination.empty() || eventType.empty()) {
        throw ApiFailure(missing);
    }
    Json::Value body(Json::objectValue);
    body["callerId"] = callerId;
    body["channel"] = config.getChannel();
    const char* const dataKeys[] = {"data1", "data2", "data3", "data4", "data5"};
    for (int index = 0; index < 5; ++index) {
        if (data[index] != nullptr) body[dataKeys[index]] = data[index];
    }
    body["destination"] = destination;
    body["eventModule"] = config.getModuleName();
    body["eventType"] = eventType;
    body["linkedId"] = protocol;
    body["source"] = callerId;
    body["uniqueId"] = protocol;
    return build(Operation::logger, config, body);
}

std::string FlowRequests::recallFailure(const std::string& document) { return "failure on save recall " + document; }

std::string FlowRequests::eventFailure(const std::string& data) { return "failure on add event with data" + data; }

}  // namespace tarvik
