#include "util/CText.h"

#include <cstring>

namespace tarvik {

char* duplicateText(const char* text) {
    return text == nullptr ? nullptr : strdup(text);
}

}  // namespace tarvik
