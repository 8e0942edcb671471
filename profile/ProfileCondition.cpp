#include "profile/ProfileCondition.h"

#include <utility>

namespace tarvik {

bool ProfileCondition::setCondition(std::string mark, std::string value, std::uint32_t priority) {
    for (const auto& variable : variables) {
        if (variable && variable->getMark() == mark) {
            return false;
        }
    }
    variables.push_back(std::make_unique<ProfileConditionVariable>(std::move(mark), std::move(value), priority));
    return true;
}

bool ProfileCondition::setCondition(std::string mark, std::string value) {
    return setCondition(std::move(mark), std::move(value), 1);
}

bool ProfileCondition::holds(const ProfileConditionVariable& variable,
                             const std::map<std::string, std::string>& marks) {
    const auto found = marks.find(variable.getMark());
    return found != marks.end() && found->second == variable.getValue();
}

bool ProfileCondition::match(const std::map<std::string, std::string>& marks) const {
    for (const auto& variable : variables) {
        if (variable && !holds(*variable, marks)) {
            return false;
        }
    }
    return true;
}

std::vector<const ProfileConditionVariable*> ProfileCondition::unmet(
    const std::map<std::string, std::string>& marks) const {
    std::vector<const ProfileConditionVariable*> failing;
    for (const auto& variable : variables) {
        if (variable && !holds(*variable, marks)) {
            failing.push_back(variable.get());
        }
    }
    return failing;
}

}  // namespace tarvik
