#include "api/HttpClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

#include "api/ApiFailure.h"
#include "api/ApiRequest.h"
#include "api/CustomerJsonMapping.h"
#include "api/FlowRequests.h"
#include "api/UrlPathEncoding.h"

namespace tarvik {

namespace {

// Texts from outside (back-office bodies, documents, caller numbers) are
// written as plain text, never as a format.
void traceLine(KestroAgiImpl& session, const std::string& text) { session.noop("%s", text.c_str()); }

void logFailure(KestroAgiImpl& session, const std::exception& failure) { session.verbose("%s", failure.what()); }

bool equalsIgnoringAsciiCase(const std::string& text, const char* expected) {
    std::size_t index = 0;
    for (; expected[index] != '\0'; ++index) {
        if (index >= text.size()) return false;
        char left = text[index];
        char right = expected[index];
        if (left >= 'A' && left <= 'Z') left = static_cast<char>(left - 'A' + 'a');
        if (right >= 'A' && right <= 'Z') right = static_cast<char>(right - 'A' + 'a');
        if (left != right) return false;
    }
    return index == text.size();
}

// The three values the recall and event traces repeat after their prefix.
std::string traceValues(const std::string& first, const std::string& firstName, const std::string& phone,
                        const std::string& uniqueId) {
    return firstName + "=> " + first + ", phone=> " + phone + ", uniqueId=> " + uniqueId;
}

const char* const kRecallOwner = FlowRequests::kRecallOwner;

}  // namespace

HttpClient::HttpClient(Configuration* configuration) : configuration(configuration) {
    transferOptions.giveUp = &giveUp;
    transferOptions.cutAt = &cutAt;
}

HttpClient::~HttpClient() { endCall(); }

void HttpClient::setReadyTimeout(long seconds) {
    if (seconds > 0) readySeconds = seconds;
}

KestroAgiRESTFul::TransferOptions HttpClient::readyOptions() const {
    KestroAgiRESTFul::TransferOptions options = transferOptions;
    options.connectSeconds = std::min(options.connectSeconds, readySeconds);
    options.totalSeconds = std::min(options.totalSeconds, readySeconds);
    return options;
}

void HttpClient::startCall(bool lookupByPhone) {
    if (configuration == nullptr) return;
    Configuration& config = *configuration;
    if (!backgroundRecords || early) return;

    std::unique_ptr<ApiRequest> lookup;
    const std::string& phone = config.getCallerId();
    const std::string& endpoint = config.getEndpointFindClientByPhone();
    if (lookupByPhone && !phone.empty() && !config.getAccessToken().empty() && !endpoint.empty()) {
        lookup = prepareLookup(config, endpoint + UrlPathEncoding::encodeSegment(phone), phone, config.getProtocol());
    }
    early = std::make_unique<EarlyExchanges>(prepareReady(config), std::move(lookup),
                                           [](const KestroAgiDataSourceResult* result) {
                                               try {
                                                   return result != nullptr && readReadyAnswer(*result);
                                               } catch (const std::exception&) {
                                                   return false;
                                               }
                                           });
}

void HttpClient::cutAfter(std::chrono::milliseconds limit) {
    long long none = 0;
    cutAt.compare_exchange_strong(none, (std::chrono::steady_clock::now() + limit).time_since_epoch().count());
}

void HttpClient::endCall() {
    cutAfter(std::chrono::milliseconds(0));
    if (!early) return;
    // Records sent early that the flow never reached (it ended before) are
    // settled like the flow's own: delivered, or kept in the spool.
    for (EarlyExchanges::Untaken& untaken : early->finish()) {
        if (records != nullptr) records->settle(untaken.record, untaken.result.get(), untaken.fault);
    }
    early.reset();
}

FlowRequests HttpClient::flowRequests() const { return FlowRequests(configuration, transferOptions); }

void HttpClient::startEarly(const std::function<void(EarlyExchanges&, const FlowRequests&)>& start) {
    if (!early) return;
    try {
        start(*early, flowRequests());
    } catch (const std::exception&) {
        // Not started: the flow's own call meets the same failure and says so.
    }
}

void HttpClient::startSendInvoice(ISPClient* client, ISPSignature* signature, const std::string& phone) {
    startEarly([&](EarlyExchanges& exchanges, const FlowRequests& build) {
        exchanges.add(build.sendInvoice(client, signature, phone));
    });
}

void HttpClient::startExternalProtocol(ISPClient* client, ISPSignature* signature) {
    startEarly([&](EarlyExchanges& exchanges, const FlowRequests& build) {
        exchanges.add(build.externalProtocol(client, signature));
    });
}

void HttpClient::startRecall(const std::string& document, const std::string& phone, const std::string& uniqueId) {
    // The search follows the registration on the wire, as in the flow; the
    // flow asks whether the registration went through or not.
    startEarly([&](EarlyExchanges& exchanges, const FlowRequests& build) {
        std::unique_ptr<ApiRequest> registration = build.recallRegistration(document, phone, uniqueId);
        BackOfficeRecord record = FlowRequests::recallRecord(*registration, document);
        exchanges.add(std::move(registration), std::move(record));
    });
    if (document.empty()) return;
    startEarly([&](EarlyExchanges& exchanges, const FlowRequests& build) {
        exchanges.add(build.recallSearch(document));
    });
}

void HttpClient::startEvent(const std::string& event, const std::string& module, const std::string& data) {
    startEarly([&](EarlyExchanges& exchanges, const FlowRequests& build) {
        std::unique_ptr<ApiRequest> request = build.event(event, module, data);
        BackOfficeRecord record = FlowRequests::eventRecord(*request, data);
        exchanges.add(std::move(request), std::move(record));
    });
}

ApiRequest::Result HttpClient::exchange(ApiRequest& request, TransferFault& fault) {
    ApiRequest::Result result;
    if (early && early->take(request, result, fault)) return result;
    result = request.send();
    fault = request.lastFault();
    return result;
}

ApiRequest::Result HttpClient::exchange(ApiRequest& request, const std::string& transferFailure) {
    TransferFault fault = TransferFault::none;
    ApiRequest::Result result = request.unlessRedirected(exchange(request, fault));
    if (!result) throw ApiFailure(transferFailure);
    return result;
}

void HttpClient::writeNotices(KestroAgiImpl& session) {
    if (records == nullptr) return;
    for (const std::string& line : records->takeNotices()) session.verbose("%s", line.c_str());
}

void HttpClient::settleEarly(KestroAgiImpl& session) { writeNotices(session); }

ApiRequest::Result HttpClient::sendInLine(ApiRequest& request, const BackOfficeRecord& record) {
    request.prepare(record.path);
    TransferFault fault = TransferFault::none;
    ApiRequest::Result result = exchange(request, fault);
    // The record waits on a redirect's own answer; the operation fails.
    if (records != nullptr) records->settle(record, result.get(), fault);
    return request.unlessRedirected(std::move(result));
}

std::unique_ptr<ApiRequest> HttpClient::prepareReady(Configuration& config) const {
    auto request = std::make_unique<ApiRequest>(config, readyOptions(), KestroAgiRESTFul::METHOD_GET);
    request->addLumoraHeader();
    request->prepare("/service/v1/ready");
    return request;
}

std::unique_ptr<ApiRequest> HttpClient::prepareLookup(Configuration& config, const std::string& path,
                                                      const std::string& phone, const std::string& protocol) const {
    auto request = std::make_unique<ApiRequest>(config, transferOptions, KestroAgiRESTFul::METHOD_GET);
    request->setHeader("x-ivr-phone", phone);
    request->setHeader("x-ivr-protocol", protocol);
    request->addLumoraHeader();
    request->prepare(path);
    return request;
}

bool HttpClient::readReadyAnswer(const KestroAgiDataSourceResult& result) {
    const Json::Value body = ApiRequest::parseBody(result, "failure on response, error on json parse (is ready)");
    const Json::Value* state = ApiRequest::findMember(body, "state");
    if (state == nullptr || !state->isString()) {
        throw ApiFailure("state is not available in response (check if is ready)");
    }
    return equalsIgnoringAsciiCase(state->asString(), "ready");
}

void HttpClient::setTimeouts(long connectSeconds, long totalSeconds) {
    transferOptions.connectSeconds = connectSeconds;
    transferOptions.totalSeconds = totalSeconds;
}

void HttpClient::setTlsVerification(bool verify, const std::string& caFile) {
    transferOptions.verifyTls = verify;
    transferOptions.caFile = caFile;
}

Configuration& HttpClient::requireConfiguration() const {
    if (configuration == nullptr) throw ApiFailure("configuration is empty");
    return *configuration;
}

bool HttpClient::isReady(KestroAgiImpl& session) {
    beginReady(session);
    return finishReady(session);
}

void HttpClient::beginReady(KestroAgiImpl& session) {
    if (configuration == nullptr) return;
    const char* lumora = configuration->getMark("header-lumora");
    session.verbose("Lumora ID: %s", lumora != nullptr ? lumora : "undefined");
}

bool HttpClient::finishReady(KestroAgiImpl& session) {
    writeNotices(session);
    try {
        Configuration& config = requireConfiguration();
        std::unique_ptr<ApiRequest> request = prepareReady(config);
        ApiRequest::Result result = exchange(*request, "failure on verify information if service is ready");
        return readReadyAnswer(*result);
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return false;
    }
}

ISPClient* HttpClient::findClient(KestroAgiImpl& session, Configuration& config, const std::string& path,
                                  const std::string& phone, const std::string& protocol,
                                  const std::string& transferFailure, const std::string& parseFailure) {
    std::unique_ptr<ApiRequest> request = prepareLookup(config, path, phone, protocol);
    ApiRequest::Result result = exchange(*request, transferFailure);
    const Json::Value body = ApiRequest::parseBody(*result, parseFailure);
    const Json::Value* document = ApiRequest::findMember(body, "document");
    if (document == nullptr || !document->isString()) throw ApiFailure("document not found in response");
    return CustomerJsonMapping::toClient(session, body);
}

ISPClient* HttpClient::getClientByPhone(KestroAgiImpl& session, const std::string& phone,
                                        const std::string& protocol) {
    settleEarly(session);
    try {
        Configuration& config = requireConfiguration();
        const std::string& endpoint = config.getEndpointFindClientByPhone();
        if (phone.empty() || config.getAccessToken().empty() || endpoint.empty()) {
            throw ApiFailure("phone, access token or endpoint to find client by phone is empty");
        }
        return findClient(session, config, endpoint + UrlPathEncoding::encodeSegment(phone), phone, protocol,
                          "failure on get client by phone: " + phone,
                          "failure on response, error on json parse (find by phone)");
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return nullptr;
    }
}

ISPClient* HttpClient::getClientByDocument(KestroAgiImpl& session, const std::string& document,
                                           const std::string& phone, const std::string& protocol) {
    settleEarly(session);
    try {
        Configuration& config = requireConfiguration();
        const std::string& endpoint = config.getEndpointFindClientByDocument();
        if (document.empty() || config.getAccessToken().empty() || endpoint.empty()) {
            throw ApiFailure("document, access token or endpoint to find client by document is empty");
        }
        return findClient(session, config, endpoint + UrlPathEncoding::encodeSegment(document), phone, protocol,
                          "failure on get client by document: " + document,
                          "failure on response, error on json parse (find by document)");
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return nullptr;
    }
}

bool HttpClient::unlock(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                        const std::string& phone) {
    settleEarly(session);
    try {
        if (client == nullptr || signature == nullptr) throw ApiFailure("client or signature is empty");
        Configuration& config = requireConfiguration();
        const std::string& endpoint = config.getEndpointFindClientUnlock();
        if (phone.empty() || config.getAccessToken().empty() || endpoint.empty()) {
            throw ApiFailure("phone, access token or endpoint to unlock client is empty");
        }
        ApiRequest request(config, transferOptions, KestroAgiRESTFul::METHOD_PUT);
        request.addLumoraHeader();
        Json::Value body(Json::objectValue);
        body["contract"] = signature->getId();
        body["document"] = client->getDocument();
        request.setJsonBody(body);
        auto result = request.execute(endpoint, "failure on unlock client: " + client->getDocument());
        // Any other answer is a refusal the flow handles; nothing to log.
        return result->getCode() == 200 || result->getCode() == 202;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return false;
    }
}

bool HttpClient::sendInvoice(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                             const std::string& phone) {
    settleEarly(session);
    try {
        std::unique_ptr<ApiRequest> request = flowRequests().sendInvoice(client, signature, phone);
        auto result = exchange(*request, "failure on send invoice client: " + client->getDocument());
        if (result->getCode() != 200) throw ApiFailure("failure on send invoice client");
        return true;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return false;
    }
}

bool HttpClient::informProtocol(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature,
                                const std::string& protocol) {
    settleEarly(session);
    try {
        if (client == nullptr || signature == nullptr || client->getDocument().empty() ||
            signature->getId().empty()) {
            throw ApiFailure("client or signature is invalid");
        }
        Configuration& config = requireConfiguration();
        const std::string& endpoint = config.getEndpointSendProtocol();
        const std::string& callerId = config.getCallerId();
        if (protocol.empty() || callerId.empty() || config.getAccessToken().empty() || endpoint.empty()) {
            throw ApiFailure("phone, access token or endpoint to find client by phone is empty");
        }
        ApiRequest request(config, transferOptions, KestroAgiRESTFul::METHOD_POST);
        request.addLumoraHeader();
        Json::Value body(Json::objectValue);
        body["contract"] = signature->getId();
        body["document"] = client->getDocument();
        body["phone"] = callerId;
        body["protocol"] = protocol;
        request.setJsonBody(body);
        auto result = request.execute(endpoint, "failure on send protocol to: " + callerId);
        if (result->getCode() != 202) throw ApiFailure("failure on response");
        return true;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return false;
    }
}

std::string HttpClient::getExternalProtocol(KestroAgiImpl& session, ISPClient* client, ISPSignature* signature) {
    settleEarly(session);
    try {
        std::unique_ptr<ApiRequest> request = flowRequests().externalProtocol(client, signature);
        auto result = exchange(*request, "failure on get external protocol: " + configuration->getCallerId());
        if (result->getCode() != 200) throw ApiFailure("failure on response");
        const Json::Value answer =
            ApiRequest::parseBody(*result, "failure on response, error on json parse (get external protocol)");
        const Json::Value* externalId = ApiRequest::findMember(answer, "externalId");
        if (externalId == nullptr || !externalId->isString()) {
            throw ApiFailure("externalId is not available in response (get external protocol)");
        }
        return externalId->asString();
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return std::string();
    }
}

bool HttpClient::saveIdentification(KestroAgiImpl& session, ISPClient* client) {
    settleEarly(session);
    try {
        if (client == nullptr || client->getDocument().empty()) throw ApiFailure("client is invalid");
        Configuration& config = requireConfiguration();
        const std::string& endpoint = config.getEndpointSaveIdentification();
        const std::string& callerId = config.getCallerId();
        if (callerId.empty() || config.getAccessToken().empty() || endpoint.empty()) {
            throw ApiFailure("phone, access token or endpoint to find client by phone is empty");
        }
        ApiRequest request(config, transferOptions, KestroAgiRESTFul::METHOD_POST);
        request.addLumoraHeader();
        Json::Value body(Json::objectValue);
        body["data1"] = "ivr";
        body["data2"] = config.getModuleName();
        body["data3"] = callerId;
        body["document"] = client->getDocument();
        body["phone"] = callerId;
        request.setJsonBody(body);
        auto result = request.execute(endpoint, "failure on send protocol to: " + callerId);
        if (result->getCode() != 200) {
            const char* text = result->getText();
            throw ApiFailure("failure on response: " + std::string(text != nullptr ? text : ""));
        }
        return true;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return false;
    }
}

bool HttpClient::isRecall(KestroAgiImpl& session, const std::string& document) {
    settleEarly(session);
    if (document.empty()) return false;
    try {
        traceLine(session, "checking if is recall to document: " + document + " in " + kRecallOwner);
        std::unique_ptr<ApiRequest> request = flowRequests().recallSearch(document);
        auto result = exchange(*request, "failure on verify information about recall to document: " + document);
        const Json::Value answer = ApiRequest::parseBody(*result, "failure on response, error on json parse (recall)");
        // Only a whole number within 32 bits counts (2.0 does, "2" does not).
        const Json::Value* attempt = ApiRequest::findMember(answer, "attempt");
        if (attempt == nullptr || !attempt->isInt()) return false;
        const std::string attempts = std::to_string(attempt->asInt());
        session.setVariable("RECALL_ATTEMPT", attempts.c_str());
        traceLine(session, "[result recall] document: " + document + "in " + kRecallOwner + " is " + attempts +
                               " attempt");
        return true;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        return false;
    }
}

bool HttpClient::addToRecall(KestroAgiImpl& session, const std::string& document, const std::string& phone,
                             const std::string& uniqueId) {
    settleEarly(session);
    const std::string values = traceValues(document, "document", phone, uniqueId);
    try {
        traceLine(session, "saving to recall history: " + values);
        std::unique_ptr<ApiRequest> request = flowRequests().recallRegistration(document, phone, uniqueId);
        const BackOfficeRecord record = FlowRequests::recallRecord(*request, document);
        auto result = sendInLine(*request, record);
        if (!result || result->getCode() != 202) throw ApiFailure(record.failureText);
        traceLine(session, "saved recall history: " + values);
        return true;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        traceLine(session, "failure on add to recall: " + values);
        return false;
    }
}

bool HttpClient::addEvent(KestroAgiImpl& session, const std::string& event, const std::string& module,
                          const std::string& data) {
    settleEarly(session);
    const std::string protocol = configuration != nullptr ? configuration->getProtocol() : std::string();
    const std::string callerId = configuration != nullptr ? configuration->getCallerId() : std::string();
    const std::string values = traceValues(data, "data", callerId, protocol);
    try {
        requireConfiguration();
        traceLine(session, "saving to recall history: " + values);
        std::unique_ptr<ApiRequest> request = flowRequests().event(event, module, data);
        const BackOfficeRecord record = FlowRequests::eventRecord(*request, data);
        auto result = sendInLine(*request, record);
        if (!result || result->getCode() < 200 || result->getCode() > 299) throw ApiFailure(record.failureText);
        session.setVariable("ORVEL_IVR_DOCUMENT", data.c_str());
        session.setVariable("ORVEL_IVR_PHONE", callerId.c_str());
        traceLine(session, "saved event: " + values);
        return true;
    } catch (const std::exception& failure) {
        logFailure(session, failure);
        traceLine(session, "failure on add event: " + values);
        return false;
    }
}

void HttpClient::logger(KestroAgiImpl& session, const std::string& destination, const std::string& eventType,
                        const char* data1, const char* data2, const char* data3, const char* data4,
                        const char* data5) {
    // Never waits: the early exchanges may still be under way.
    writeNotices(session);
    try {
        const char* const missing = "failure on set logger module name,  callerId, protocol, channel or accessToken is empty";
        if (configuration == nullptr) throw ApiFailure(missing);
        Configuration& config = *configuration;
        const std::string& callerId = config.getCallerId();
        const std::string& protocol = config.getProtocol();
        if (config.getModuleName().empty() || callerId.empty() || protocol.empty() || config.getChannel().empty() ||
            config.getAccessToken().empty() || destination.empty() || eventType.empty()) {
            throw ApiFailure(missing);
        }
        ApiRequest request(config, transferOptions, KestroAgiRESTFul::METHOD_POST);
        request.setHeader("Content-Type", "application/json");
        Json::Value body(Json::objectValue);
        body["callerId"] = callerId;
        body["channel"] = config.getChannel();
        const char* const data[] = {data1, data2, data3, data4, data5};
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
        request.setJsonBody(body);
        // The remote log never judges the answer; only a lost transfer is reported.
        const BackOfficeRecord record =
            request.toRecord("logger", "/service/v1/logger", "failure on set logger with caller id" + callerId);
        if (backgroundRecords && records != nullptr) {
            records->send(record);
        } else if (!sendInLine(request, record)) {
            throw ApiFailure(record.failureText);
        }
    } catch (const std::exception& failure) {
        logFailure(session, failure);
    }
}

ISPInvoice* HttpClient::getInvoiceFromJson(KestroAgiImpl& session, Json::Value& value) {
    return CustomerJsonMapping::toInvoice(session, value);
}

ISPSignature* HttpClient::getSignatureFromJson(KestroAgiImpl& session, Json::Value& value) {
    return CustomerJsonMapping::toSignature(session, value);
}

ISPClient* HttpClient::getClientFromJson(KestroAgiImpl& session, Json::Value& value) {
    return CustomerJsonMapping::toClient(session, value);
}

}  // namespace tarvik
