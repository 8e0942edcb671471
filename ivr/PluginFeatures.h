#pragma once

#include <json/json.h>

namespace tarvik {

// The eleven feature switches of the configuration's "feature" object, all
// on by default; a key only ever overrides its own switch.
struct PluginFeatures {
    bool findClientByPhone = true;
    bool findClientByDocument = true;
    bool signatureUnlock = true;
    bool sendInvoice = true;
    bool sendProtocol = true;
    bool recall = true;
    bool informProtocol = true;
    bool externalProtocol = true;
    bool selfUpdateClientPhoneNumber = true;
    bool underMaintenance = true;
    bool eventManager = true;

    // Applies every member of `feature` that names a switch and holds a
    // boolean; anything else (wrong types, unknown keys, a non-object) is
    // ignored.
    void apply(const Json::Value& feature);
};

}  // namespace tarvik
