#pragma once

#include <string>

#include "ivr/Plugin.h"

namespace tarvik {

// The module of ivr-orvel: the common call flow with the back-office
// endpoints built from the "plugin" object and its own identification
// dialogue, in which the caller may type the document at the first question.
class OrvelV3 : public Plugin {
public:
    OrvelV3() = default;
    ~OrvelV3() override = default;

    bool phaseIsClient(KestroAgiImpl& session) override;
    void onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) override;

private:
    // The customer question; false when the call has been redirected.
    bool askIsClient(KestroAgiImpl& session);

    std::string driver;
    std::string id;
};

}  // namespace tarvik
