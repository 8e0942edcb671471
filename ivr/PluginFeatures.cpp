#include "ivr/PluginFeatures.h"

#include <utility>

#include "util/JsonMembers.h"

namespace tarvik {

void PluginFeatures::apply(const Json::Value& feature) {
    const std::pair<Id, bool*> switches[] = {
        {Id::FeatureFindClientByPhone, &findClientByPhone},
        {Id::FeatureFindClientByDocument, &findClientByDocument},
        {Id::FeatureSignatureUnlock, &signatureUnlock},
        {Id::FeatureSendInvoice, &sendInvoice},
        {Id::FeatureSendProtocol, &sendProtocol},
        {Id::FeatureRecall, &recall},
        {Id::FeatureInformProtocol, &informProtocol},
        {Id::FeatureExternalProtocol, &externalProtocol},
        {Id::FeatureSelfUpdateClientPhoneNumber, &selfUpdateClientPhoneNumber},
        {Id::FeatureUnderMaintenance, &underMaintenance},
        {Id::FeatureEventManager, &eventManager},
    };
    // JsonMembers ignores a `feature` that is not an object.
    for (const auto& [id, target] : switches) JsonMembers::readBool(feature, configurationKeyName(id), *target);
}

}  // namespace tarvik
