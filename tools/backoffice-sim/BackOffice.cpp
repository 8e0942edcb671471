#include "tools/backoffice-sim/BackOffice.h"

#include <ctime>
#include <memory>

namespace tarvik {

namespace {

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

SimAnswer jsonAnswer(int status, const Json::Value& value) {
    SimAnswer answer;
    answer.status = status;
    answer.body = compact(value);
    return answer;
}

SimAnswer errorAnswer(int status, const char* error) {
    Json::Value value(Json::objectValue);
    value["error"] = error;
    return jsonAnswer(status, value);
}

SimAnswer statusAnswer(int status, const char* text) {
    Json::Value value(Json::objectValue);
    value["status"] = text;
    return jsonAnswer(status, value);
}

// The request body as a JSON object; false for anything else. jsoncpp
// throws on absurdly deep nesting: that counts as a bad body too.
bool parseObject(const std::string& body, Json::Value& value) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    try {
        std::string errors;
        return reader->parse(body.data(), body.data() + body.size(), &value, &errors) && value.isObject();
    } catch (const std::exception&) {
        return false;
    }
}

std::string textMember(const Json::Value& value, const char* name) {
    const Json::Value& member = value[name];
    return member.isString() ? member.asString() : std::string();
}

std::string zeroPadded(unsigned long number, std::size_t width) {
    std::string text = std::to_string(number);
    return text.size() >= width ? text : std::string(width - text.size(), '0') + text;
}

}  // namespace

SimAnswer BackOffice::answer(const SimRoute& route, const std::string& body) {
    if (route.operation == SimOperation::Unknown) {
        return errorAnswer(404, "no such operation");
    }
    if (!route.methodAllowed) {
        return errorAnswer(405, "method not allowed");
    }
    switch (route.operation) {
    case SimOperation::Ready: {
        Json::Value value(Json::objectValue);
        value["state"] = "ready";
        return jsonAnswer(200, value);
    }
    case SimOperation::Phone:
        return lookup(store_.findByPhone(route.value));
    case SimOperation::Document:
        return lookup(store_.findByDocument(route.value));
    default:
        break;
    }
    Json::Value request;
    if (!parseObject(body, request)) {
        return errorAnswer(400, "body is not a JSON object");
    }
    switch (route.operation) {
    case SimOperation::Unlock:
    case SimOperation::Send:
    case SimOperation::Protocol:
    case SimOperation::Ticket:
        return contractOperation(route.operation, request);
    case SimOperation::Identification:
        return identification(request);
    case SimOperation::RecallSearch:
        return recallSearch(request);
    case SimOperation::RecallRegister:
        return recallRegister(request);
    case SimOperation::Event:
    case SimOperation::Logger:
        return statusAnswer(200, "logged");
    default:
        return errorAnswer(404, "no such operation");
    }
}

SimAnswer BackOffice::lookup(const SimCustomer* customer) const {
    if (customer == nullptr) {
        return errorAnswer(404, "not found");
    }
    SimAnswer answer;
    answer.body = customer->answer;
    return answer;
}

SimAnswer BackOffice::contractOperation(SimOperation operation, const Json::Value& request) {
    const SimCustomer* customer = store_.findByDocument(textMember(request, "document"));
    if (customer == nullptr) {
        return errorAnswer(404, "not found");
    }
    const Json::Value* contract = CustomerStore::findContract(*customer, textMember(request, "contract"));
    if (contract == nullptr) {
        return errorAnswer(404, "contract not found");
    }
    switch (operation) {
    case SimOperation::Unlock: {
        // A contract without the flag may be unlocked, as the IVR assumes.
        const Json::Value& canUnlock = (*contract)["canUnlock"];
        if (canUnlock.isBool() && !canUnlock.asBool()) {
            return errorAnswer(409, "unlock not allowed for this contract");
        }
        return statusAnswer(202, "unlocked");
    }
    case SimOperation::Send:
        return statusAnswer(200, "sent");
    case SimOperation::Protocol:
        return statusAnswer(202, "registered");
    default:
        return ticket(*customer);
    }
}

SimAnswer BackOffice::ticket(const SimCustomer& customer) {
    Json::Value value(Json::objectValue);
    switch (customer.ticketMode) {
    case SimCustomer::TicketMode::Fixed:
        value["externalId"] = customer.externalId;
        break;
    case SimCustomer::TicketMode::Generated:
        value["externalId"] = nextProtocolNumber();
        break;
    case SimCustomer::TicketMode::None:
        break;
    }
    return jsonAnswer(200, value);
}

std::string BackOffice::nextProtocolNumber() {
    unsigned long sequence = ++tickets_;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900) + zeroPadded(static_cast<unsigned long>(local.tm_mon + 1), 2) +
           zeroPadded(static_cast<unsigned long>(local.tm_mday), 2) + zeroPadded(sequence % 1000000, 6);
}

SimAnswer BackOffice::identification(const Json::Value& request) const {
    if (store_.findByDocument(textMember(request, "document")) == nullptr) {
        return errorAnswer(404, "not found");
    }
    return statusAnswer(200, "saved");
}

SimAnswer BackOffice::recallSearch(const Json::Value& request) {
    std::string document = digitsOf(textMember(request, "document"));
    if (document.empty()) {
        return errorAnswer(400, "document is required");
    }
    Json::Value value(Json::objectValue);
    int calls = recalls_.callsWithinWindow(document, RecallHistory::Clock::now());
    if (calls >= 2) {
        value["attempt"] = calls;
    }
    return jsonAnswer(200, value);
}

SimAnswer BackOffice::recallRegister(const Json::Value& request) {
    std::string document = digitsOf(textMember(request, "document"));
    if (document.empty()) {
        return errorAnswer(400, "document is required");
    }
    Json::Value value(Json::objectValue);
    value["calls"] = recalls_.registerCall(document, RecallHistory::Clock::now());
    return jsonAnswer(202, value);
}

}  // namespace tarvik
