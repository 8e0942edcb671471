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

bool ProfileCondition::match(const std::map<std::string, std::string>& marks) const {
    for (const auto& variable : variables) {
        if (!variable) {
            continue;
        }
        const auto found = marks.find(variable->getMark());
        if (found == marks.end() || found->second != variable->getValue()) {
            return false;
        }
    }
    return true;
}

}  // namespace tarvik
