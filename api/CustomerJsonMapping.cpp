#include "api/CustomerJsonMapping.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <string>

namespace tarvik {

namespace {

// The member of that name, or null when it is absent.
const Json::Value* member(const Json::Value& object, const char* key) {
    return object.find(key, key + std::strlen(key));
}

// Only a JSON string counts; a number, boolean or null in its place is absent.
const Json::Value* stringMember(const Json::Value& object, const char* key) {
    const Json::Value* value = member(object, key);
    return value != nullptr && value->isString() ? value : nullptr;
}

const Json::Value* boolMember(const Json::Value& object, const char* key) {
    const Json::Value* value = member(object, key);
    return value != nullptr && value->isBool() ? value : nullptr;
}

const Json::Value* arrayMember(const Json::Value& object, const char* key) {
    const Json::Value* value = member(object, key);
    return value != nullptr && value->isArray() ? value : nullptr;
}

// Prices are held at single precision (99.9 becomes 99.90000152587890625).
// A real beyond the single-precision range has no such value and is
// treated like a mistyped key.
bool readSinglePrecision(const Json::Value& object, const char* key, double& target) {
    const Json::Value* value = member(object, key);
    if (value == nullptr || !value->isNumeric()) return false;
    if (value->type() == Json::realValue && !(std::fabs(value->asDouble()) <= FLT_MAX)) return false;
    target = static_cast<double>(value->asFloat());
    return true;
}


}  // namespace

long CustomerJsonMapping::toLocalMidnight(const std::string& text) {
    const std::string date = text.substr(0, 10);
    struct tm calendar;
    std::memset(&calendar, 0, sizeof calendar);  // midnight, no daylight saving
    // Only a whole year-month-day is a date: "" or "05/03/2024" would
    // otherwise become a day of January 1900.
    const char* end = strptime(date.c_str(), "%Y-%m-%d", &calendar);
    if (end == nullptr || *end != '\0') return ISPInvoice::kNoDueDate;
    return static_cast<long>(mktime(&calendar));
}

ISPInvoice* CustomerJsonMapping::toInvoice(std::vector<std::string>& failures, const Json::Value& value) {
    if (!value.isObject()) return nullptr;
    try {
        auto invoice = std::make_unique<ISPInvoice>();
        if (const Json::Value* id = stringMember(value, "id")) invoice->setId(id->asString());
        if (const Json::Value* number = stringMember(value, "number")) invoice->setNumber(number->asString());
        if (const Json::Value* pdf = stringMember(value, "pdf")) invoice->setPdf(pdf->asString());
        if (const Json::Value* barCode = stringMember(value, "barCode")) invoice->setBarCode(barCode->asString());
        double amount = 0.0;
        if (readSinglePrecision(value, "price", amount)) invoice->setPrice(amount);
        if (readSinglePrecision(value, "originalPrice", amount)) invoice->setOriginalPrice(amount);
        if (const Json::Value* dueDate = stringMember(value, "dueDate")) {
            invoice->setDueDate(toLocalMidnight(dueDate->asString()));
        }
        return invoice.release();
    } catch (const std::exception& failure) {
        failures.push_back(failure.what());
        return nullptr;
    }
}

ISPSignature* CustomerJsonMapping::toSignature(std::vector<std::string>& failures, const Json::Value& value) {
    if (!value.isObject()) return nullptr;
    try {
        auto signature = std::make_unique<ISPSignature>();
        if (const Json::Value* id = stringMember(value, "id")) signature->setId(id->asString());
        if (const Json::Value* forwarding = stringMember(value, "forwarding")) {
            signature->setForwarding(forwarding->asString());
        }
        if (const Json::Value* address = stringMember(value, "addressNumber")) {
            signature->setAddressNumber(address->asString());
        }
        if (const Json::Value* state = stringMember(value, "state")) {
            signature->setState(ISPSignature::fromConnectionStateString(state->asString()));
        }
        if (const Json::Value* blocked = boolMember(value, "blocked")) signature->setBlocked(blocked->asBool());
        if (const Json::Value* canUnlock = boolMember(value, "canUnlock")) signature->setCanUnlock(canUnlock->asBool());
        if (const Json::Value* maintenance = boolMember(value, "underMaintenance")) {
            signature->setUnderMaintenance(maintenance->asBool());
        }
        if (const Json::Value* end = stringMember(value, "endOfMaintenance")) {
            signature->setEndOfMaintenance(end->asString());
        }
        if (const Json::Value* overdue = arrayMember(value, "overdueInvoices")) {
            for (const Json::Value& element : *overdue) {
                signature->putOverdueInvoice(toInvoice(failures, element));
            }
        }
        if (const Json::Value* open = arrayMember(value, "invoices")) {
            for (const Json::Value& element : *open) {
                signature->putInvoice(toInvoice(failures, element));
            }
        }
        return signature.release();
    } catch (const std::exception& failure) {
        failures.push_back(failure.what());
        return nullptr;
    }
}

ISPClient* CustomerJsonMapping::toClient(std::vector<std::string>& failures, const Json::Value& value) {
    if (!value.isObject()) return nullptr;
    try {
        auto client = std::make_unique<ISPClient>();
        if (const Json::Value* id = stringMember(value, "id")) client->setId(id->asString());
        if (const Json::Value* name = stringMember(value, "name")) client->setName(name->asString());
        if (const Json::Value* document = stringMember(value, "document")) client->setDocument(document->asString());
        if (const Json::Value* emails = arrayMember(value, "emails")) {
            for (const Json::Value& element : *emails) {
                if (element.isString()) client->putEmail(element.asString());
            }
        }
        if (const Json::Value* phones = arrayMember(value, "phones")) {
            for (const Json::Value& element : *phones) {
                if (element.isString()) client->putPhone(element.asString());
            }
        }
        const Json::Value* marks = member(value, "marks");
        if (marks != nullptr && marks->isObject()) {
            std::map<std::string, std::string> read;
            for (auto entry = marks->begin(); entry != marks->end(); ++entry) {
                if (entry->isString()) read[entry.name()] = entry->asString();
            }
            client->setMarks(read);
        }
        if (const Json::Value* signatures = arrayMember(value, "signatures")) {
            for (const Json::Value& element : *signatures) {
                client->putSignature(toSignature(failures, element));
            }
        }
        const Json::Value* standard = member(value, "standard");
        if (standard != nullptr && standard->isObject()) {
            // A separate record even when its id matches a listed contract;
            // the client adopts it and frees it with itself.
            if (ISPSignature* contract = toSignature(failures, *standard)) client->setStandard(contract);
        }
        return client.release();
    } catch (const std::exception& failure) {
        failures.push_back(failure.what());
        return nullptr;
    }
}

}  // namespace tarvik
