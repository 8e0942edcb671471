#pragma once

#include <map>
#include <string>

#include "profile/ProfileCondition.h"

namespace tarvik {

// One route entry of the profile: when its condition holds, each listed
// destination name of the flow is replaced by its dial-plan destination.
class ProfileDestination {
public:
    ProfileCondition& getCondition() { return condition; }
    const ProfileCondition& getCondition() const { return condition; }

    // Inserts the pair unless the name is present already; false when
    // refused, and the first replacement is kept.
    bool setDestination(std::string name, std::string destination);

    bool match(const std::map<std::string, std::string>& marks) const { return condition.match(marks); }

    // The replacement for name whatever the condition, or null when the
    // entry does not list it. The text is owned by this entry.
    const char* getDestination(const std::string& name) const;
    // As above, but null as well when the condition does not hold on marks.
    const char* getDestination(const std::string& name, const std::map<std::string, std::string>& marks) const;

    // Every destination name with its replacement.
    const std::map<std::string, std::string>& getDestinations() const { return destinations; }

private:
    ProfileCondition condition;
    std::map<std::string, std::string> destinations;
};

}  // namespace tarvik
