#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "profile/ProfileConditionVariable.h"

namespace tarvik {

// The condition of one profile entry: every variable must hold on the call's
// marks (exact key, exact value). No variables means the entry always applies.
class ProfileCondition {
public:
    using Variables = std::vector<std::unique_ptr<ProfileConditionVariable>>;

    // Appends the variable unless one with the same mark exists already
    // (whatever its value); false when refused.
    bool setCondition(std::string mark, std::string value, std::uint32_t priority);
    bool setCondition(std::string mark, std::string value);

    void setDescription(std::string text) { description = std::move(text); }
    const std::string& getDescription() const { return description; }

    const Variables& getVariables() const { return variables; }

    bool match(const std::map<std::string, std::string>& marks) const;
    // The variables that do not hold on marks, in the entry's order: why
    // match is false (empty exactly when it is true).
    std::vector<const ProfileConditionVariable*> unmet(const std::map<std::string, std::string>& marks) const;
    // The one test of a variable against the call's marks.
    static bool holds(const ProfileConditionVariable& variable, const std::map<std::string, std::string>& marks);

private:
    Variables variables;
    std::string description;
};

}  // namespace tarvik
