#include "records/BackOfficeIdentity.h"

#include <cstdint>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

std::string lowered(std::string text) {
    for (char& letter : text) {
        if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    }
    return text;
}

std::uint64_t fnv1a(std::uint64_t hash, const std::string& text) {
    for (unsigned char byte : text) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    // A separator no text can forge: parts never run into each other.
    hash ^= 0x100u;
    return hash * 1099511628211ull;
}

}  // namespace

BackOfficeIdentity::BackOfficeIdentity(const std::string& baseUri, std::string pluginDriver, std::string pluginId)
    : address_(canonicalAddress(baseUri)), driver(std::move(pluginDriver)), id(std::move(pluginId)) {}

std::string BackOfficeIdentity::canonicalAddress(const std::string& baseUri) {
    const std::size_t schemeEnd = baseUri.find("://");
    if (schemeEnd == std::string::npos) return baseUri;
    const std::string scheme = lowered(baseUri.substr(0, schemeEnd));
    const std::size_t hostStart = schemeEnd + 3;
    std::size_t pathStart = baseUri.find_first_of("/?#", hostStart);
    if (pathStart == std::string::npos) pathStart = baseUri.size();
    std::string authority = baseUri.substr(hostStart, pathStart - hostStart);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);

    std::string host = authority;
    std::string port;
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (port.empty()) port = scheme == "https" ? "443" : scheme == "http" ? "80" : "";

    std::string path = baseUri.substr(pathStart);
    while (!path.empty() && path.back() == '/') path.pop_back();
    return scheme + "://" + lowered(host) + (port.empty() ? "" : ":" + port) + path;
}

std::string BackOfficeIdentity::tag() const {
    std::uint64_t hash = 14695981039346656037ull;
    hash = fnv1a(hash, address_);
    hash = fnv1a(hash, driver);
    hash = fnv1a(hash, id);
    return formatBounded("%016llx", static_cast<unsigned long long>(hash));
}

bool BackOfficeIdentity::operator==(const BackOfficeIdentity& other) const {
    return address_ == other.address_ && driver == other.driver && id == other.id;
}

}  // namespace tarvik
