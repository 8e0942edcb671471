#pragma once

#include <json/json.h>

#include "configuration/ConfigurationKeyTable.h"

namespace tarvik {

// The eleven feature switches of the configuration's "feature" object,
// each named and defaulted (all on) by the table of keys; a key only ever
// overrides its own switch.
struct PluginFeatures {
    using Id = ConfigurationKeyId;

    bool findClientByPhone = configurationKey(Id::FeatureFindClientByPhone).defaultFlag();
    bool findClientByDocument = configurationKey(Id::FeatureFindClientByDocument).defaultFlag();
    bool signatureUnlock = configurationKey(Id::FeatureSignatureUnlock).defaultFlag();
    bool sendInvoice = configurationKey(Id::FeatureSendInvoice).defaultFlag();
    bool sendProtocol = configurationKey(Id::FeatureSendProtocol).defaultFlag();
    bool recall = configurationKey(Id::FeatureRecall).defaultFlag();
    bool informProtocol = configurationKey(Id::FeatureInformProtocol).defaultFlag();
    bool externalProtocol = configurationKey(Id::FeatureExternalProtocol).defaultFlag();
    bool selfUpdateClientPhoneNumber = configurationKey(Id::FeatureSelfUpdateClientPhoneNumber).defaultFlag();
    bool underMaintenance = configurationKey(Id::FeatureUnderMaintenance).defaultFlag();
    bool eventManager = configurationKey(Id::FeatureEventManager).defaultFlag();

    // Applies every member of `feature` that names a switch and holds a
    // boolean; anything else (wrong types, unknown keys, a non-object) is
    // ignored.
    void apply(const Json::Value& feature);
};

}  // namespace tarvik
