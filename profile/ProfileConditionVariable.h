#pragma once

#include <cstdint>
#include <string>

namespace tarvik {

// One required mark of a profile entry: the call's mark `mark` must have
// exactly the text `value`. The priority is kept as the operator wrote it;
// no lookup consults it (entries are tried in file order).
class ProfileConditionVariable {
public:
    ProfileConditionVariable(std::string mark, std::string value, std::uint32_t priority);

    const std::string& getMark() const { return mark; }
    const std::string& getValue() const { return value; }
    std::uint32_t getPriority() const { return priority; }

private:
    std::string mark;
    std::string value;
    std::uint32_t priority;
};

}  // namespace tarvik
