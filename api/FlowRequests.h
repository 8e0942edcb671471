#pragma once

#include <memory>
#include <string>

#include <json/json.h>

#include "api/ApiRequest.h"
#include "api/BackOfficeRecord.h"
#include "api/BackOfficeTable.h"
#include "api/KestroAgiRESTFul.h"
#include "configuration/Configuration.h"
#include "model/ISPClient.h"
#include "model/ISPSignature.h"

namespace tarvik {

// Every request of the flow, built in one place so that one started early
// and the flow's own are the very same exchange. Each checks what its
// operation checks, in the same order and with the same texts (raised as
// ApiFailure), and comes back addressed by the operations' table.
class FlowRequests {
public:
    // The configuration may be null: every request then fails with "configuration is empty".
    FlowRequests(Configuration* configuration, const KestroAgiRESTFul::TransferOptions& options)
        : configuration(configuration), options(options) {}

    static const char* const kRecallOwner;

    // `bounded`: the readiness check's own limits.
    std::unique_ptr<ApiRequest> ready(const KestroAgiRESTFul::TransferOptions& bounded) const;
    std::unique_ptr<ApiRequest> findByPhone(const std::string& phone, const std::string& protocol) const;
    std::unique_ptr<ApiRequest> findByDocument(const std::string& document, const std::string& phone,
                                               const std::string& protocol) const;
    std::unique_ptr<ApiRequest> unlock(ISPClient* client, ISPSignature* signature, const std::string& phone) const;
    std::unique_ptr<ApiRequest> sendInvoice(ISPClient* client, ISPSignature* signature,
                                            const std::string& phone) const;
    std::unique_ptr<ApiRequest> informProtocol(ISPClient* client, ISPSignature* signature,
                                               const std::string& protocol) const;
    std::unique_ptr<ApiRequest> externalProtocol(ISPClient* client, ISPSignature* signature) const;
    std::unique_ptr<ApiRequest> saveIdentification(ISPClient* client) const;
    std::unique_ptr<ApiRequest> recallRegistration(const std::string& document, const std::string& phone,
                                                   const std::string& uniqueId) const;
    std::unique_ptr<ApiRequest> recallSearch(const std::string& document) const;
    std::unique_ptr<ApiRequest> event(const std::string& eventName, const std::string& module,
                                      const std::string& data) const;
    // A null data text is left out.
    std::unique_ptr<ApiRequest> logger(const std::string& destination, const std::string& eventType,
                                       const char* const (&data)[5]) const;

    // The lines of a recall registration and an event not delivered; their records carry them.
    static std::string recallFailure(const std::string& document);
    static std::string eventFailure(const std::string& data);

private:
    using Operation = BackOfficeTable::Operation;

    Configuration& require() const;
    // The frame of the operation's row: its method, its path (with the
    // lookup's value), the body when there is one, and "Addon-Lumora".
    std::unique_ptr<ApiRequest> build(Operation operation, Configuration& config, const Json::Value& body,
                                      const std::string& value = std::string()) const;
    std::unique_ptr<ApiRequest> lookup(Operation operation, Configuration& config, const std::string& value,
                                       const std::string& phone, const std::string& protocol) const;
    // The body the contract operations name the contract and customer with.
    static Json::Value contractBody(ISPClient& client, ISPSignature& signature);

    Configuration* configuration;
    KestroAgiRESTFul::TransferOptions options;
};

}  // namespace tarvik
