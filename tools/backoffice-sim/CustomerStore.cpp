#include "tools/backoffice-sim/CustomerStore.h"

#include <fstream>
#include <memory>
#include <sstream>

namespace tarvik {

namespace {

// Keys of a customer entry that belong to the fixture, not to the client
// document the back office answers with. Keys that begin with "_" (comments)
// are dropped at every depth.
const char* const kFixtureKeys[] = {"lookupPhones", "lookupDocuments", "externalId"};

Json::Value withoutComments(const Json::Value& value) {
    if (value.isObject()) {
        Json::Value copy(Json::objectValue);
        for (const std::string& name : value.getMemberNames()) {
            if (!name.empty() && name[0] == '_') {
                continue;
            }
            copy[name] = withoutComments(value[name]);
        }
        return copy;
    }
    if (value.isArray()) {
        Json::Value copy(Json::arrayValue);
        for (const Json::Value& element : value) {
            copy.append(withoutComments(element));
        }
        return copy;
    }
    return value;
}

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

// The texts of a member that is an array of strings; other elements are skipped.
std::vector<std::string> textsOf(const Json::Value& value) {
    std::vector<std::string> texts;
    if (!value.isArray()) {
        return texts;
    }
    for (const Json::Value& element : value) {
        if (element.isString()) {
            texts.push_back(element.asString());
        }
    }
    return texts;
}

// The forms under which a caller's number may be listed: as it is, without
// leading zeros (trunk prefix) and without the country code.
std::vector<std::string> phoneCandidates(const std::string& digits) {
    std::vector<std::string> candidates{digits};
    std::string rest = digits;
    while (!rest.empty() && rest[0] == '0') {
        rest.erase(0, 1);
    }
    if (rest != digits && !rest.empty()) {
        candidates.push_back(rest);
    }
    if (rest.size() >= 12 && rest.compare(0, 2, "55") == 0) {
        candidates.push_back(rest.substr(2));
    }
    return candidates;
}

}  // namespace

std::string digitsOf(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    return digits;
}

bool CustomerStore::loadFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!loadText(text.str(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool CustomerStore::loadText(const std::string& text, std::string& error) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string parseErrors;
    bool parsed = false;
    try {
        parsed = reader->parse(text.data(), text.data() + text.size(), &root, &parseErrors);
    } catch (const std::exception& failure) {  // jsoncpp throws on absurd nesting
        parseErrors = failure.what();
    }
    if (!parsed) {
        error = "not JSON: " + parseErrors;
        return false;
    }
    if (!root.isObject() || !root["customers"].isArray()) {
        error = "expected an object with an array \"customers\"";
        return false;
    }
    customers_.clear();
    byPhone_.clear();
    byDocument_.clear();
    warnings_.clear();
    const Json::Value& entries = root["customers"];
    customers_.reserve(entries.size());
    for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
        if (!addCustomer(entries[i], i, error)) {
            return false;
        }
    }
    return true;
}

bool CustomerStore::addCustomer(const Json::Value& entry, std::size_t position, std::string& error) {
    if (!entry.isObject()) {
        error = "customer " + std::to_string(position) + " is not an object";
        return false;
    }
    SimCustomer customer;
    customer.client = withoutComments(entry);
    for (const char* key : kFixtureKeys) {
        customer.client.removeMember(key);
    }
    customer.answer = compact(customer.client);
    if (entry["document"].isString()) {
        customer.document = entry["document"].asString();
    }

    const Json::Value& externalId = entry["externalId"];
    if (externalId.isString()) {
        customer.ticketMode = SimCustomer::TicketMode::Fixed;
        customer.externalId = externalId.asString();
    } else if (externalId.isNull() && entry.isMember("externalId")) {
        customer.ticketMode = SimCustomer::TicketMode::None;
    } else if (!externalId.isNull()) {
        error = "customer " + std::to_string(position) + ": \"externalId\" must be a text or null";
        return false;
    }

    std::size_t index = customers_.size();
    customers_.push_back(std::move(customer));

    // Phones default to the client document's own list.
    std::vector<std::string> phones =
        entry.isMember("lookupPhones") ? textsOf(entry["lookupPhones"]) : textsOf(entry["phones"]);
    for (const std::string& phone : phones) {
        std::string digits = digitsOf(phone);
        if (!digits.empty()) {
            this->index(byPhone_, digits, index, "phone");
        }
    }
    std::vector<std::string> documents = textsOf(entry["lookupDocuments"]);
    if (!customers_[index].document.empty()) {
        documents.insert(documents.begin(), customers_[index].document);
    }
    for (const std::string& document : documents) {
        std::string digits = digitsOf(document);
        if (!digits.empty()) {
            this->index(byDocument_, digits, index, "document");
        }
    }
    return true;
}

void CustomerStore::index(std::map<std::string, std::size_t>& keys, const std::string& digits,
                          std::size_t position, const char* what) {
    auto inserted = keys.emplace(digits, position);
    if (!inserted.second && inserted.first->second != position) {
        warnings_.push_back(std::string(what) + " " + digits + " is listed for customers " +
                            std::to_string(inserted.first->second) + " and " + std::to_string(position) +
                            "; the first one is answered");
    }
}

const SimCustomer* CustomerStore::findByPhone(const std::string& phone) const {
    std::string digits = digitsOf(phone);
    if (digits.empty()) {
        return nullptr;
    }
    for (const std::string& candidate : phoneCandidates(digits)) {
        auto found = byPhone_.find(candidate);
        if (found != byPhone_.end()) {
            return &customers_[found->second];
        }
    }
    return nullptr;
}

const SimCustomer* CustomerStore::findByDocument(const std::string& document) const {
    std::string digits = digitsOf(document);
    if (digits.empty()) {
        return nullptr;
    }
    auto found = byDocument_.find(digits);
    return found == byDocument_.end() ? nullptr : &customers_[found->second];
}

const Json::Value* CustomerStore::findContract(const SimCustomer& customer, const std::string& contractId) {
    if (contractId.empty()) {
        return nullptr;
    }
    const Json::Value& signatures = customer.client["signatures"];
    if (signatures.isArray()) {
        for (const Json::Value& signature : signatures) {
            if (signature.isObject() && signature["id"].isString() && signature["id"].asString() == contractId) {
                return &signature;
            }
        }
    }
    const Json::Value& standard = customer.client["standard"];
    if (standard.isObject() && standard["id"].isString() && standard["id"].asString() == contractId) {
        return &standard;
    }
    return nullptr;
}

}  // namespace tarvik
