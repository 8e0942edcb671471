#pragma once

#include <string>

namespace tarvik {

// The back office a record belongs to: the scheme, host, port and base path
// of its address, and the plugin driver and id of the configuration that
// wrote it. A record is delivered only to the back office of the same
// identity, with the token of a configuration naming that back office.
class BackOfficeIdentity {
public:
    BackOfficeIdentity() = default;
    BackOfficeIdentity(const std::string& baseUri, std::string pluginDriver, std::string pluginId);

    // "scheme://host:port/path", lower-case scheme and host, the port
    // always written, no trailing slash.
    const std::string& address() const { return address_; }
    const std::string& pluginDriver() const { return driver; }
    const std::string& pluginId() const { return id; }
    bool empty() const { return address_.empty(); }

    // Sixteen hex digits naming the identity in spool file names (a record
    // is still read and compared whole before it is sent).
    std::string tag() const;

    bool operator==(const BackOfficeIdentity& other) const;
    bool operator!=(const BackOfficeIdentity& other) const { return !(*this == other); }

    static std::string canonicalAddress(const std::string& baseUri);

private:
    std::string address_;
    std::string driver;
    std::string id;
};

}  // namespace tarvik
