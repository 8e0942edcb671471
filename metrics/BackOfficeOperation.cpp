#include "metrics/BackOfficeOperation.h"

namespace tarvik {

namespace {

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// The path without scheme, authority and query.
std::string pathOf(const std::string& url) {
    std::string::size_type start = url.find("://");
    start = start == std::string::npos ? 0 : url.find('/', start + 3);
    if (start == std::string::npos) return "/";
    return url.substr(start, url.find('?', start) - start);
}

}  // namespace

std::string BackOfficeOperation::fromUrl(const std::string& url) {
    const std::string path = pathOf(url);
    const struct {
        const char* ending;
        const char* name;
    } fixed[] = {
        {"/service/v1/ready", "ready"},
        {"/service/v1/recall/meta/search", "recall_search"},
        {"/service/v1/recall/meta/register", "recall_register"},
        {"/service/v1/integration/log", "event"},
        {"/service/v1/logger", "log"},
        {"/service/v1/identification", "identification"},
        {"/unlock", "unlock"},
        {"/send", "send_invoice"},
        {"/protocol", "protocol"},
        {"/ticket", "external_protocol"},
    };
    for (const auto& each : fixed) {
        if (endsWith(path, each.ending)) return each.name;
    }
    // The lookups end in the phone number or document.
    std::string::size_type last = path.rfind('/');
    if (last != std::string::npos && last > 0) {
        const std::string parent = path.substr(0, last);
        if (endsWith(parent, "/phone")) return "find_by_phone";
        if (endsWith(parent, "/document")) return "find_by_document";
    }
    return "other";
}

}  // namespace tarvik
