#include "profile/ProfileConditionVariable.h"

#include <utility>

namespace tarvik {

ProfileConditionVariable::ProfileConditionVariable(std::string mark, std::string value, std::uint32_t priority)
    : mark(std::move(mark)), value(std::move(value)), priority(priority) {}

}  // namespace tarvik
