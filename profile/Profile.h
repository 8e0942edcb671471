#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "profile/ProfileAudio.h"
#include "profile/ProfileDestination.h"

namespace Json {
class Value;
}

namespace tarvik {

class KestroAgiImpl;

// The routing profile: the "profile" object of the IVR configuration file.
// Filled once at configuration time, read-only afterwards. Among the entries
// whose condition holds on the call's marks, the first in file order wins.
class Profile {
public:
    using Routes = std::vector<std::unique_ptr<ProfileDestination>>;
    using Audios = std::vector<std::unique_ptr<ProfileAudio>>;

    // Reads the configuration file at path and appends the entries found.
    // Reports faults through the session's verbose, never throws for a
    // faulty file. True when nothing wrong was found (no profile included);
    // false when the file could not be used in full: whatever was read
    // before the fault stays loaded.
    bool load(KestroAgiImpl& session, const char* path);
    // The two halves of load, each given its array; they log nothing.
    bool loadRoute(const Json::Value& route);
    bool loadAudio(const Json::Value& audio);
    // The route entries of a configuration file's root, read as load reads
    // them, for a reader that has the file parsed already; logs nothing.
    bool loadRouteOf(const Json::Value& root);

    // The replacement for the destination name from the first route entry
    // that applies on marks and lists the name; null when none does. The
    // text is owned by the profile and lives as long as it. `entry`, when
    // given, gets the index of that route entry (-1 when none applies).
    const char* getDestination(const std::map<std::string, std::string>& marks, std::string name,
                               int* entry = nullptr) const;
    // The route entry getDestination takes its replacement from, or null.
    const ProfileDestination* chooseRoute(const std::map<std::string, std::string>& marks,
                                          const std::string& name) const;
    // The directory of the first audio entry that applies on marks; null
    // when none does. Owned by the profile like the above.
    const char* getAudioDir(const std::map<std::string, std::string>& marks) const;

    const Routes& getRoutes() const { return routes; }
    const Audios& getAudios() const { return audios; }

private:
    // Declared in this order so that the audio entries are destroyed first.
    Routes routes;
    Audios audios;
};

}  // namespace tarvik
