#pragma once

#include <string>

namespace tarvik {

// The narrow view of the IVR module through which the back-office client
// reads endpoints, credentials, call identifiers and marks. Plugin
// implements it; the client keeps a non-owning pointer. Never deleted
// through this interface.
class Configuration {
public:
    virtual const std::string& getEndpointSaveIdentification() const = 0;
    virtual const std::string& getEndpointFindClientByDocument() const = 0;
    virtual const std::string& getEndpointFindClientByPhone() const = 0;
    virtual const std::string& getEndpointSendProtocol() const = 0;
    virtual const std::string& getEndpointFindClientUnlock() const = 0;
    virtual const std::string& getEndpointFindInvoiceSend() const = 0;
    virtual const std::string& getEndpointExternalProtocol() const = 0;
    virtual const std::string& getBaseUri() const = 0;
    virtual const std::string& getAccessToken() const = 0;
    // The mark's text, or null when the call has no such mark.
    virtual const char* getMark(std::string key) = 0;
    virtual const std::string& getCallerId() const = 0;
    virtual const std::string& getProtocol() const = 0;
    virtual const std::string& getChannel() const = 0;
    virtual const std::string& getModuleName() const = 0;
    virtual const std::string& getPluginId() const = 0;
    virtual const std::string& getPluginDriver() const = 0;

protected:
    ~Configuration() = default;
};

}  // namespace tarvik
