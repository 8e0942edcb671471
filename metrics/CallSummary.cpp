#include "metrics/CallSummary.h"

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// One word of printable ASCII, at most `limit` bytes; "-" for nothing.
std::string word(const std::string& text, std::size_t limit = 64) {
    std::string clean;
    for (char c : text) {
        if (clean.size() >= limit) break;
        auto byte = static_cast<unsigned char>(c);
        clean += (byte > 0x20 && byte < 0x7f) ? c : '_';
    }
    return clean.empty() ? "-" : clean;
}

const char* foundName(CallSummary::Found how) {
    switch (how) {
        case CallSummary::Found::byPhone: return "phone";
        case CallSummary::Found::byDocument: return "document";
        case CallSummary::Found::notFound: break;
    }
    return "not-found";
}

}  // namespace

void CallSummary::setExit(const std::string& key, const std::string& extensionAfterProfile, int routeEntry) {
    exitKey = key;
    extension = extensionAfterProfile;
    route = routeEntry;
}

void CallSummary::setRequests(std::size_t count, double longestSeconds) {
    requests = count;
    longestRequestSeconds = longestSeconds;
}

std::string CallSummary::maskDocument(const std::string& document) {
    if (document.empty()) return "-";
    const std::size_t length = document.size() < 20 ? document.size() : 20;
    if (length <= 3) return std::string(length, '*');
    return std::string(length - 3, '*') + word(document.substr(document.size() - 3));
}

std::string CallSummary::line() const {
    const std::string routeText = route >= 0 ? std::to_string(route) : "none";
    const long long longestMs = static_cast<long long>(longestRequestSeconds * 1000 + 0.5);
    return formatBounded(
        "call uniqueid=%s caller=%s found=%s document=%s contract=%s exit=%s extension=%s route=%s seconds=%.1f "
        "requests=%zu longest_wait_ms=%lld not_delivered=%zu",
        word(uniqueId).c_str(), word(caller).c_str(), foundName(found), maskDocument(document).c_str(),
        word(contract).c_str(), word(exitKey).c_str(), word(extension, 200).c_str(), routeText.c_str(),
        seconds >= 0 ? seconds : 0.0, requests, longestMs, notDelivered);
}

}  // namespace tarvik
