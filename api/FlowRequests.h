#pragma once

#include <memory>
#include <string>

#include "api/ApiRequest.h"
#include "api/BackOfficeRecord.h"
#include "api/KestroAgiRESTFul.h"
#include "configuration/Configuration.h"
#include "model/ISPClient.h"
#include "model/ISPSignature.h"

namespace tarvik {

// The requests of the flow that may be started before the flow reaches
// them, built in one place so that the early one and the flow's own are the
// very same exchange. Each checks what its operation checks, in the same
// order and with the same texts (raised as ApiFailure), and comes back
// addressed.
class FlowRequests {
public:
    // The configuration may be null: every request then fails with "configuration is empty".
    FlowRequests(Configuration* configuration, const KestroAgiRESTFul::TransferOptions& options)
        : configuration(configuration), options(options) {}

    static const char* const kRecallOwner;
    static const char* const kRecallRegisterPath;
    static const char* const kEventPath;

    std::unique_ptr<ApiRequest> sendInvoice(ISPClient* client, ISPSignature* signature,
                                            const std::string& phone) const;
    std::unique_ptr<ApiRequest> externalProtocol(ISPClient* client, ISPSignature* signature) const;
    std::unique_ptr<ApiRequest> recallRegistration(const std::string& document, const std::string& phone,
                                                   const std::string& uniqueId) const;
    std::unique_ptr<ApiRequest> recallSearch(const std::string& document) const;
    std::unique_ptr<ApiRequest> event(const std::string& eventName, const std::string& module,
                                      const std::string& data) const;

    // The records the recall registration and an event are, as the spool keeps them.
    static BackOfficeRecord recallRecord(const ApiRequest& request, const std::string& document);
    static BackOfficeRecord eventRecord(const ApiRequest& request, const std::string& data);

private:
    Configuration& require() const;
    std::unique_ptr<ApiRequest> post(Configuration& config) const;

    Configuration* configuration;
    KestroAgiRESTFul::TransferOptions options;
};

}  // namespace tarvik
