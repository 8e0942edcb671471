#pragma once

#include <string>

#include "ivr/Plugin.h"

namespace tarvik {

// The module of ivr-pelion: the common call flow with the back-office
// endpoints built from the "plugin" object and an identification dialogue
// that asks "1 or 2" and accepts documents of up to 17 digits.
class Pelion : public Plugin {
public:
    Pelion() = default;
    ~Pelion() override = default;

    bool phaseIsClient(KestroAgiImpl& session) override;
    void onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) override;

private:
    std::string driver;
    std::string id;
};

}  // namespace tarvik
