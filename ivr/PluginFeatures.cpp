#include "ivr/PluginFeatures.h"

namespace tarvik {

namespace {

void applySwitch(const Json::Value& feature, const char* key, bool& target) {
    const Json::Value* value = feature.find(key, key + std::char_traits<char>::length(key));
    if (value != nullptr && value->isBool()) target = value->asBool();
}

}  // namespace

void PluginFeatures::apply(const Json::Value& feature) {
    if (!feature.isObject()) return;
    applySwitch(feature, "findClientByPhone", findClientByPhone);
    applySwitch(feature, "findClientByDocument", findClientByDocument);
    applySwitch(feature, "signatureUnlock", signatureUnlock);
    applySwitch(feature, "sendInvoice", sendInvoice);
    applySwitch(feature, "sendProtocol", sendProtocol);
    applySwitch(feature, "recall", recall);
    applySwitch(feature, "informProtocol", informProtocol);
    applySwitch(feature, "externalProtocol", externalProtocol);
    applySwitch(feature, "selfUpdateClientPhoneNumber", selfUpdateClientPhoneNumber);
    applySwitch(feature, "underMaintenance", underMaintenance);
    applySwitch(feature, "eventManager", eventManager);
}

}  // namespace tarvik
