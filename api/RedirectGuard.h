#pragma once

#include <string>

#include <curl/curl.h>

namespace tarvik {

// Keeps a request's redirects on the origin (scheme, host, port) of its own
// URL. The access token travels in a header of our own, which libcurl sends
// to wherever a redirect points: a redirect elsewhere is stopped before any
// byte of the request leaves, and the transfer fails.
class RedirectGuard {
public:
    // Installs itself on the handle; must outlive the transfer.
    RedirectGuard(CURL* handle, const std::string& url);

    RedirectGuard(const RedirectGuard&) = delete;
    RedirectGuard& operator=(const RedirectGuard&) = delete;

    // After a failed transfer: where the refused redirect pointed, or empty.
    std::string refusedLocation() const;
    // The origin redirects must keep: "https://host:443".
    const std::string& allowedOrigin() const { return origin; }

    // "scheme://host:port" of a URL, with the scheme's default port filled
    // in and scheme and host in lower case; empty when it cannot be parsed.
    static std::string originOf(const std::string& url);

private:
    static int beforeRequest(void* guard, char* primaryIp, char* localIp, int primaryPort, int localPort);

    CURL* handle;
    std::string origin;
    std::string refused;
    int requests = 0;
};

}  // namespace tarvik
