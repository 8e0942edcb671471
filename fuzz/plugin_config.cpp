// Feeds the input as the IVR's JSON configuration file: the plugin reads its
// keys, builds its switches and client, and loads the routing profile from
// the same file. The ivr-orvel module is used so its "plugin" hook (the
// endpoints) runs too.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "sites/orvel/OrvelV3.h"
#include "agi/RecordingSession.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name = tarvik::fuzz::writeWorkingFile("fuzz-config", ".json", data, size);
    if (name.empty()) return 0;
    {
        tarvik::RecordingSession session;
        tarvik::OrvelV3 plugin;
        plugin.onReadArgument("mark::type:pf");
        plugin.loadConfiguration(session, name.c_str());
        (void)plugin.getProfileDestination("50005");
        (void)plugin.getProfileAudio("Orvel-u4-01");
        (void)plugin.getBaseUri();
        (void)plugin.getEndpointFindClientByDocument();
    }
    ::unlink(name.c_str());
    return 0;
}
