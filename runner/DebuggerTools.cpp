#include "runner/DebuggerTools.h"

#include <cstdarg>
#include <string>

#include "util/BoundedFormat.h"

namespace tarvik {

DebuggerToolsImpl* DebuggerTools::impl = nullptr;

void DebuggerTools::setImpl(DebuggerToolsImpl* sink) { impl = sink; }

DebuggerToolsImpl* DebuggerTools::getImpl() { return impl; }

void DebuggerTools::notice(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    deliver(format, arguments);
    va_end(arguments);
}

void DebuggerTools::error(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    deliver(format, arguments);
    va_end(arguments);
}

void DebuggerTools::deliver(const char* format, va_list arguments) {
    if (format == nullptr || impl == nullptr) return;
    std::string text = formatBoundedV(format, arguments);
    impl->notice(text.c_str());
}

}  // namespace tarvik
