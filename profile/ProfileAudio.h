#pragma once

#include <map>
#include <string>

#include "profile/ProfileCondition.h"

namespace tarvik {

// One audio entry of the profile: when its condition holds, prompts are
// played from dir (prompt names are appended to it as they are).
class ProfileAudio {
public:
    void setDir(std::string text);
    const std::string& getDir() const { return dir; }

    ProfileCondition& getCondition() { return condition; }
    const ProfileCondition& getCondition() const { return condition; }

    bool match(const std::map<std::string, std::string>& marks) const;

private:
    std::string dir;
    ProfileCondition condition;
};

}  // namespace tarvik
