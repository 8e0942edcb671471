#include "util/BoundedFormat.h"

#include <cstdio>
#include <cstring>

namespace tarvik {

void formatIntoV(char* buffer, std::size_t size, const char* format, va_list arguments) {
    if (size == 0) return;
    buffer[0] = '\0';
    if (format == nullptr) return;
    int written = std::vsnprintf(buffer, size, format, arguments);
    if (written < 0) buffer[0] = '\0';
}

std::string formatBoundedV(const char* format, va_list arguments) {
    char buffer[kFormatBufferSize];
    std::memset(buffer, 0, sizeof(buffer));
    formatIntoV(buffer, sizeof(buffer), format, arguments);
    return std::string(buffer);
}

std::string formatBounded(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace tarvik
