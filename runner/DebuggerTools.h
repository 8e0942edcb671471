#pragma once

#include <cstdarg>

#include "runner/DebuggerToolsImpl.h"

namespace tarvik {

// Process-wide debug messages. Without an installed sink every message is
// dropped; the runner installs itself before the module runs.
class DebuggerTools {
public:
    // Installs the sink (not owned), replacing any earlier one; null removes it.
    static void setImpl(DebuggerToolsImpl* sink);
    static DebuggerToolsImpl* getImpl();

    // Formats printf-style (cut at 4095 bytes) and hands the text to the sink.
    static void notice(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // Same as notice: the sink has a single channel, so errors share it.
    static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    static void deliver(const char* format, va_list arguments);

    static DebuggerToolsImpl* impl;
};

}  // namespace tarvik
