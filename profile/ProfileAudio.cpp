#include "profile/ProfileAudio.h"

#include <utility>

namespace tarvik {

void ProfileAudio::setDir(std::string text) {
    dir = std::move(text);
}

bool ProfileAudio::match(const std::map<std::string, std::string>& marks) const {
    return condition.match(marks);
}

}  // namespace tarvik
