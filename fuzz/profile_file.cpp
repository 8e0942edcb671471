// Feeds the input as the JSON configuration file the routing profile is
// loaded from, then looks destinations and audio directories up with marks
// that the common example files use.
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>

#include "fuzz/FuzzInput.h"
#include "profile/Profile.h"
#include "agi/RecordingSession.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name = tarvik::fuzz::writeWorkingFile("fuzz-profile", ".json", data, size);
    if (name.empty()) return 0;
    {
        tarvik::RecordingSession session;
        tarvik::Profile profile;
        profile.load(session, name.c_str());

        std::map<std::string, std::string> marks{{"state", "ready"}, {"type", "pf"}};
        (void)profile.getDestination(marks, "50005");
        (void)profile.getDestination({}, "50001");
        (void)profile.getAudioDir(marks);
        (void)profile.getAudioDir({});
    }
    ::unlink(name.c_str());
    return 0;
}
