#include "agi/KestroAgiImpl.h"

#include <cstdlib>

#include "util/CText.h"

namespace tarvik {

namespace {

void replaceText(char*& field, const char* value) {
    std::free(field);
    field = duplicateText(value);
}

}  // namespace

KestroAgiImpl::KestroAgiImpl() = default;

KestroAgiImpl::~KestroAgiImpl() {
    std::free(defaultContext);
    std::free(debugLogger);
}

void KestroAgiImpl::setDefaultContext(const char* context) { replaceText(defaultContext, context); }

void KestroAgiImpl::setDebugLogger(const char* path) { replaceText(debugLogger, path); }

void KestroAgiImpl::appendArgument(const char* text) {
    if (text != nullptr) arguments.emplace_back(text);
}

const char* KestroAgiImpl::getArgument(int index) {
    if (index <= 0 || static_cast<std::size_t>(index) > arguments.size()) return nullptr;
    return arguments[static_cast<std::size_t>(index) - 1].c_str();
}

bool KestroAgiImpl::sayNumber(int number) {
    std::string text = std::to_string(number);
    return sayNumber(text.c_str());
}

}  // namespace tarvik
