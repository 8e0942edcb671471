#include "check/BackOfficeAddress.h"

#include <curl/curl.h>

#include <memory>

namespace tarvik {

namespace {

struct UrlFree {
    void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};

// libcurl's own texts go back through curl_free.
struct CurlTextFree {
    void operator()(char* text) const noexcept { curl_free(text); }
};

// A part of the parsed URL, or empty when it has none.
std::string part(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK) return std::string();
    std::unique_ptr<char, CurlTextFree> owned(text);
    return owned ? std::string(owned.get()) : std::string();
}

}  // namespace

std::string BackOfficeAddress::problem(const std::string& baseUri) {
    const std::string quoted = "back-office address \"" + baseUri + "\"";
    if (baseUri.empty()) return "no back-office address: key \"kestro\" is missing or empty";
    std::unique_ptr<CURLU, UrlFree> url(curl_url());
    if (!url) return quoted + " cannot be checked (out of memory)";
    CURLUcode parsed = curl_url_set(url.get(), CURLUPART_URL, baseUri.c_str(), 0);
    if (parsed != CURLUE_OK) return quoted + " is not a usable URL: " + curl_url_strerror(parsed);
    const std::string scheme = part(url.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") return quoted + " must begin with http:// or https://";
    if (part(url.get(), CURLUPART_HOST).empty()) return quoted + " names no host";
    if (!part(url.get(), CURLUPART_QUERY).empty() || !part(url.get(), CURLUPART_FRAGMENT).empty()) {
        return quoted + " has a query or fragment: the request paths would be appended after it";
    }
    if (baseUri.back() == '/') return quoted + " ends in \"/\": every request path would begin with \"//\"";
    return std::string();
}

}  // namespace tarvik
