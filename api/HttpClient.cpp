#include "api/HttpClient.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>

#include "api/ApiFailure.h"
#include "api/ApiRequest.h"
#include "api/CustomerJsonMapping.h"
#include "api/FlowRequests.h"

namespace tarvik {

namespace {

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

// The judge of the operations whose answer is its status alone.
auto statusIn(int low, int high, const std::string& refusal = std::string()) {
    return [low, high, refusal](const KestroAgiDataSourceResult& answer, BackOfficeOutcome&) {
        if (answer.getCode() >= low && answer.getCode() <= high) return true;
        if (refusal.empty()) return false;
        throw ApiFailure(refusal);
    };
}

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
    if (lookupByPhone) {
        try {
            lookup = flowRequests().findByPhone(config.getCallerId(), config.getProtocol());
        } catch (const std::exception&) {
            // Not started: the flow's own lookup meets the same failure and says so.
        }
    }
    early = std::make_unique<EarlyExchanges>(flowRequests().ready(readyOptions()), std::move(lookup),
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
        BackOfficeRecord record = registration->toRecord(FlowRequests::recallFailure(document));
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
        BackOfficeRecord record = request->toRecord(FlowRequests::eventFailure(data));
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

std::vector<std::string> HttpClient::takeNotices() {
    return records != nullptr ? records->takeNotices() : std::vector<std::string>();
}

ApiRequest::Result HttpClient::sendInLine(ApiRequest& request, const BackOfficeRecord& record) {
    TransferFault fault = TransferFault::none;
    ApiRequest::Result result = exchange(request, fault);
    // The record waits on a redirect's own answer; the operation fails.
    if (records != nullptr) records->settle(record, result.get(), fault);
    return request.unlessRedirected(std::move(result));
}

BackOfficeOutcome HttpClient::run(const Build& build, const std::function<std::string()>& failure,
                                  const Judge& judge) {
    BackOfficeOutcome outcome;
    run(outcome, build, failure, judge);
    return outcome;
}

void HttpClient::run(BackOfficeOutcome& outcome, const Build& build, const std::function<std::string()>& failure,
                     const Judge& judge) {
    try {
        std::unique_ptr<ApiRequest> request = build(flowRequests());
        const std::string failureText = failure();
        ApiRequest::Result result;
        if (request->operation()->kind == BackOfficeTable::Kind::record) {
            const BackOfficeRecord record = request->toRecord(failureText);
            // Nothing waits for the remote log: it goes beside the call.
            if (!judge && backgroundRecords && records != nullptr) {
                records->send(record);
                outcome.done = true;
                return;
            }
            result = sendInLine(*request, record);
        } else {
            TransferFault fault = TransferFault::none;
            result = request->unlessRedirected(exchange(*request, fault));
        }
        if (!result) throw ApiFailure(failureText);
        outcome.done = !judge || judge(*result, outcome);
    } catch (const std::exception& failed) {
        outcome.done = false;
        outcome.lines.push_back(failed.what());
    }
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

BackOfficeOutcome HttpClient::ready() {
    return run([this](const FlowRequests& build) { return build.ready(readyOptions()); },
        [] { return "failure on verify information if service is ready"; },
        [](const KestroAgiDataSourceResult& answer, BackOfficeOutcome&) { return readReadyAnswer(answer); });
}

CustomerFound HttpClient::find(const Build& build, const std::string& transferFailure,
                               const std::string& parseFailure) {
    CustomerFound found;
    run(found, build, [&] { return transferFailure; },
        [&](const KestroAgiDataSourceResult& answer, BackOfficeOutcome&) {
            const Json::Value body = ApiRequest::parseBody(answer, parseFailure);
            const Json::Value* document = ApiRequest::findMember(body, "document");
            if (document == nullptr || !document->isString()) throw ApiFailure("document not found in response");
            found.client.reset(CustomerJsonMapping::toClient(found.lines, body));
            return found.client != nullptr;
        });
    return found;
}

CustomerFound HttpClient::findByPhone(const std::string& phone, const std::string& protocol) {
    return find([&](const FlowRequests& build) { return build.findByPhone(phone, protocol); },
                "failure on get client by phone: " + phone, "failure on response, error on json parse (find by phone)");
}

CustomerFound HttpClient::findByDocument(const std::string& document, const std::string& phone,
                                         const std::string& protocol) {
    return find([&](const FlowRequests& build) { return build.findByDocument(document, phone, protocol); },
                "failure on get client by document: " + document,
                "failure on response, error on json parse (find by document)");
}

BackOfficeOutcome HttpClient::unlock(ISPClient* client, ISPSignature* signature, const std::string& phone) {
    // Any other answer is a refusal the flow handles; nothing to log.
    return run([&](const FlowRequests& build) { return build.unlock(client, signature, phone); },
        [&] { return "failure on unlock client: " + client->getDocument(); },
        [](const KestroAgiDataSourceResult& answer, BackOfficeOutcome&) {
            return answer.getCode() == 200 || answer.getCode() == 202;
        });
}

BackOfficeOutcome HttpClient::sendInvoice(ISPClient* client, ISPSignature* signature, const std::string& phone) {
    return run([&](const FlowRequests& build) { return build.sendInvoice(client, signature, phone); },
        [&] { return "failure on send invoice client: " + client->getDocument(); },
        statusIn(200, 200, "failure on send invoice client"));
}

BackOfficeOutcome HttpClient::informProtocol(ISPClient* client, ISPSignature* signature,
                                             const std::string& protocol) {
    return run([&](const FlowRequests& build) { return build.informProtocol(client, signature, protocol); },
        [this] { return "failure on send protocol to: " + configuration->getCallerId(); },
        statusIn(202, 202, "failure on response"));
}

BackOfficeOutcome HttpClient::externalProtocol(ISPClient* client, ISPSignature* signature) {
    return run([&](const FlowRequests& build) { return build.externalProtocol(client, signature); },
        [this] { return "failure on get external protocol: " + configuration->getCallerId(); },
        [](const KestroAgiDataSourceResult& answer, BackOfficeOutcome& read) {
            if (answer.getCode() != 200) throw ApiFailure("failure on response");
            const Json::Value body =
                ApiRequest::parseBody(answer, "failure on response, error on json parse (get external protocol)");
            const Json::Value* externalId = ApiRequest::findMember(body, "externalId");
            if (externalId == nullptr || !externalId->isString()) {
                throw ApiFailure("externalId is not available in response (get external protocol)");
            }
            read.value = externalId->asString();
            return true;
        });
}

BackOfficeOutcome HttpClient::saveIdentification(ISPClient* client) {
    return run([&](const FlowRequests& build) { return build.saveIdentification(client); },
        [this] { return "failure on send protocol to: " + configuration->getCallerId(); },
        [](const KestroAgiDataSourceResult& answer, BackOfficeOutcome&) {
            if (answer.getCode() == 200) return true;
            const char* text = answer.getText();
            throw ApiFailure("failure on response: " + std::string(text != nullptr ? text : ""));
        });
}

BackOfficeOutcome HttpClient::recallAttempts(const std::string& document) {
    return run([&](const FlowRequests& build) { return build.recallSearch(document); },
        [&] { return "failure on verify information about recall to document: " + document; },
        [](const KestroAgiDataSourceResult& answer, BackOfficeOutcome& read) {
            const Json::Value body = ApiRequest::parseBody(answer, "failure on response, error on json parse (recall)");
            // Only a whole number within 32 bits counts (2.0 does, "2" does not).
            const Json::Value* attempt = ApiRequest::findMember(body, "attempt");
            if (attempt == nullptr || !attempt->isInt()) return false;
            read.value = std::to_string(attempt->asInt());
            return true;
        });
}

BackOfficeOutcome HttpClient::registerRecall(const std::string& document, const std::string& phone,
                                             const std::string& uniqueId) {
    const std::string failure = FlowRequests::recallFailure(document);
    return run([&](const FlowRequests& build) { return build.recallRegistration(document, phone, uniqueId); },
        [&] { return failure; }, statusIn(202, 202, failure));
}

BackOfficeOutcome HttpClient::event(const std::string& eventName, const std::string& module,
                                    const std::string& data) {
    const std::string failure = FlowRequests::eventFailure(data);
    return run([&](const FlowRequests& build) { return build.event(eventName, module, data); },
        [&] { return failure; }, statusIn(200, 299, failure));
}

BackOfficeOutcome HttpClient::logger(const std::string& destination, const std::string& eventType,
                                     const char* data1, const char* data2, const char* data3, const char* data4,
                                     const char* data5) {
    const char* const data[] = {data1, data2, data3, data4, data5};
    // The remote log never judges the answer; only a lost transfer is reported.
    return run([&](const FlowRequests& build) { return build.logger(destination, eventType, data); },
        [this] { return "failure on set logger with caller id" + configuration->getCallerId(); }, Judge());
}

}  // namespace tarvik
