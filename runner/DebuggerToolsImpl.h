#pragma once

namespace tarvik {

// The sink of the debug facade (DebuggerTools). The runner implements it and
// forwards every message to the current session's verbose log. The sink is
// never deleted through this interface, hence the protected destructor.
class DebuggerToolsImpl {
public:
    virtual void notice(const char* text) = 0;

protected:
    DebuggerToolsImpl() = default;
    DebuggerToolsImpl(const DebuggerToolsImpl&) = default;
    DebuggerToolsImpl& operator=(const DebuggerToolsImpl&) = default;
    ~DebuggerToolsImpl() = default;
};

}  // namespace tarvik
