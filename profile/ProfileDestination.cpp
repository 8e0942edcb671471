#include "profile/ProfileDestination.h"

#include <utility>

namespace tarvik {

bool ProfileDestination::setDestination(std::string name, std::string destination) {
    return destinations.emplace(std::move(name), std::move(destination)).second;
}

const char* ProfileDestination::getDestination(const std::string& name) const {
    const auto found = destinations.find(name);
    return found == destinations.end() ? nullptr : found->second.c_str();
}

const char* ProfileDestination::getDestination(const std::string& name,
                                               const std::map<std::string, std::string>& marks) const {
    return match(marks) ? getDestination(name) : nullptr;
}

}  // namespace tarvik
