#include "api/BackOfficeTable.h"

#include "api/KestroAgiRESTFul.h"

namespace tarvik {

namespace {

using Operation = BackOfficeTable::Operation;
using Kind = BackOfficeTable::Kind;
constexpr int GET = KestroAgiRESTFul::METHOD_GET;
constexpr int POST = KestroAgiRESTFul::METHOD_POST;
constexpr int PUT = KestroAgiRESTFul::METHOD_PUT;

// In the order a URL is named by: the first row whose ending it has.
const BackOfficeTable::Row kRows[] = {
    {Operation::ready, "ready", GET, "/service/v1/ready", Kind::lookup, nullptr, nullptr},
    {Operation::recallSearch, "recall_search", POST, "/service/v1/recall/meta/search", Kind::lookup, nullptr, nullptr},
    {Operation::recallRegistration, "recall_register", POST, "/service/v1/recall/meta/register", Kind::record,
     "recall", nullptr},
    {Operation::event, "event", POST, "/service/v1/integration/log", Kind::record, "event", nullptr},
    {Operation::logger, "log", POST, "/service/v1/logger", Kind::record, "logger", nullptr},
    {Operation::saveIdentification, "identification", POST, "/service/v1/identification", Kind::contractOperation,
     nullptr, &Configuration::getEndpointSaveIdentification},
    {Operation::unlock, "unlock", PUT, "/service/v1/isp/{driver}/{id}/unlock", Kind::contractOperation, nullptr,
     &Configuration::getEndpointFindClientUnlock},
    {Operation::sendInvoice, "send_invoice", POST, "/service/v1/isp/{driver}/{id}/send", Kind::contractOperation,
     nullptr, &Configuration::getEndpointFindInvoiceSend},
    {Operation::informProtocol, "protocol", POST, "/service/v1/isp/{driver}/{id}/protocol", Kind::contractOperation,
     nullptr, &Configuration::getEndpointSendProtocol},
    {Operation::externalProtocol, "external_protocol", POST, "/service/v1/isp/{driver}/{id}/ticket",
     Kind::contractOperation, nullptr, &Configuration::getEndpointExternalProtocol},
    {Operation::findByPhone, "find_by_phone", GET, "/service/v1/isp/{driver}/{id}/phone/{phone}", Kind::lookup,
     nullptr, &Configuration::getEndpointFindClientByPhone},
    {Operation::findByDocument, "find_by_document", GET, "/service/v1/isp/{driver}/{id}/document/{document}",
     Kind::lookup, nullptr, &Configuration::getEndpointFindClientByDocument},
};

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

void replace(std::string& text, const std::string& name, const std::string& value) {
    const std::string::size_type at = text.find(name);
    if (at != std::string::npos) text.replace(at, name.size(), value);
}

// The pattern without its last segment when that is the caller's value.
std::string withoutValue(const std::string& pattern) {
    if (!endsWith(pattern, "}")) return pattern;
    return pattern.substr(0, pattern.rfind('/') + 1);
}

// The path without scheme, authority and query.
std::string pathOf(const std::string& url) {
    std::string::size_type start = url.find("://");
    start = start == std::string::npos ? 0 : url.find('/', start + 3);
    if (start == std::string::npos) return "/";
    return url.substr(start, url.find('?', start) - start);
}

// Whether the path asks for the row: it ends as the pattern does after the
// provider's part (driver and id are the operator's and may hold anything).
bool names(const std::string& path, const std::string& pattern) {
    const std::string::size_type provider = pattern.find("{id}");
    const std::string tail = provider == std::string::npos ? pattern : pattern.substr(provider + 4);
    if (!endsWith(tail, "}")) return endsWith(path, tail);
    const std::string::size_type last = path.rfind('/');
    if (last == std::string::npos || last == 0) return false;
    const std::string parent = tail.substr(0, tail.rfind('/'));
    return endsWith(path.substr(0, last), parent);
}

}  // namespace

const BackOfficeTable::Row& BackOfficeTable::row(Operation operation) {
    for (const Row& each : kRows) {
        if (each.operation == operation) return each;
    }
    return kRows[0];  // every operation has its row
}

std::string BackOfficeTable::endpoint(Operation operation, const std::string& driver, const std::string& id) {
    std::string path = withoutValue(row(operation).pattern);
    replace(path, "{driver}", driver);
    replace(path, "{id}", id);
    return path;
}

std::string BackOfficeTable::path(Operation operation, const Configuration& configuration) {
    const Row& found = row(operation);
    return found.endpoint != nullptr ? (configuration.*found.endpoint)() : std::string(found.pattern);
}

const BackOfficeTable::Row* BackOfficeTable::findFixed(int method, const std::string& path) {
    for (const Row& each : kRows) {
        if (each.endpoint == nullptr && each.method == method && path == each.pattern) return &each;
    }
    return nullptr;
}

std::string BackOfficeTable::metricNameOfUrl(const std::string& url) {
    const std::string path = pathOf(url);
    for (const Row& each : kRows) {
        if (names(path, each.pattern)) return each.metricName;
    }
    return "other";
}

}  // namespace tarvik
