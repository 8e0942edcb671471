#include "runner/DebuggerTools.h"

#include <cstdarg>
#include <string>

#include "util/BoundedFormat.h"

namespace tarvik {

DebuggerToolsImpl* DebuggerTools::impl = nullptr;

void DebuggerTools::setImpl(DebuggerToolsImpl* sink) { impl = sink; }

DebuggerToolsImpl* DebuggerTools::getImpl() { return impl; }

void DebuggerTools::notice(const char* format, ...) {
    if (format == nullptr || impl == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);
    impl->notice(text.c_str());
}

void DebuggerTools::error(const char* format, ...) {
    if (format == nullptr || impl == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatBoundedV(format, arguments);
    va_end(arguments);
    impl->notice(text.c_str());
}

}  // namespace tarvik
