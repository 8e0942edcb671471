#include "api/RedirectGuard.h"

#include <memory>

namespace tarvik {

namespace {

struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextCleanup {
    void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlTextCleanup>;

CurlText part(CURLU* url, CURLUPart which, unsigned int flags) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, flags) != CURLUE_OK) return CurlText();
    return CurlText(text);
}

std::string lowerCase(const char* text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace

RedirectGuard::RedirectGuard(CURL* handle, const std::string& url) : handle(handle), origin(originOf(url)) {
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &RedirectGuard::beforeRequest);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, this);
    // Another scheme is refused before connecting at all (no TLS handshake
    // with whoever an https-to-http redirect names).
    const std::string scheme = origin.substr(0, origin.find(':'));
    if (!scheme.empty()) curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, scheme.c_str());
}

std::string RedirectGuard::refusedLocation() const {
    if (!refused.empty() || origin.empty()) return refused;
    // A redirect to another scheme fails in libcurl before our check runs;
    // the transfer then stands at the new URL.
    char* effective = nullptr;
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective);
    if (effective == nullptr || originOf(effective) == origin) return std::string();
    return effective;
}

std::string RedirectGuard::originOf(const std::string& url) {
    std::unique_ptr<CURLU, UrlCleanup> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::string();
    CurlText scheme = part(parsed.get(), CURLUPART_SCHEME, 0);
    CurlText host = part(parsed.get(), CURLUPART_HOST, 0);
    CurlText port = part(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || !port) return std::string();
    return lowerCase(scheme.get()) + "://" + lowerCase(host.get()) + ":" + port.get();
}

// libcurl calls this once connected, before each request of the transfer
// (the first one and every redirect) is sent.
int RedirectGuard::beforeRequest(void* data, char*, char*, int, int) {
    auto* guard = static_cast<RedirectGuard*>(data);
    if (guard->requests++ == 0) return CURL_PREREQFUNC_OK;  // the request's own URL
    char* effective = nullptr;
    curl_easy_getinfo(guard->handle, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string target = effective != nullptr ? effective : "";
    if (!guard->origin.empty() && originOf(target) == guard->origin) return CURL_PREREQFUNC_OK;
    guard->refused = target.empty() ? "?" : target;
    return CURL_PREREQFUNC_ABORT;
}

}  // namespace tarvik
