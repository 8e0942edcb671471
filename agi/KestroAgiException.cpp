#include "agi/KestroAgiException.h"

#include <cstdarg>
#include <cstdio>

#include "util/BoundedFormat.h"

namespace tarvik {

KestroAgiException::KestroAgiException(int code, const char* format, ...) : code(code) {
    va_list arguments;
    va_start(arguments, format);
    formatIntoV(message, sizeof(message), format, arguments);
    va_end(arguments);
}

KestroAgiException::KestroAgiException(const char* extra, int code, const char* format, ...) : code(code) {
    va_list arguments;
    va_start(arguments, format);
    formatIntoV(message, sizeof(message), format, arguments);
    va_end(arguments);
    if (extra != nullptr) std::snprintf(this->extra, sizeof(this->extra), "%s", extra);
}

}  // namespace tarvik
