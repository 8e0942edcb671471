#include "agi/KestroAgiResponse.h"

#include <cstdlib>

#include "util/CText.h"

namespace tarvik {

KestroAgiResponse::~KestroAgiResponse() {
    std::free(result);
    std::free(data);
}

void KestroAgiResponse::setResult(const char* text) {
    std::free(result);
    result = duplicateText(text);
}

void KestroAgiResponse::setData(const char* text) {
    std::free(data);
    data = duplicateText(text);
}

}  // namespace tarvik
