#pragma once

namespace tarvik {

// Lines for the system log (the journal on Debian): facility LOG_USER,
// level info, ident the program's name (journalctl -t ivr-orvel). The text
// always goes as an argument, never as the format.
class SystemLog {
public:
    // Where lines go instead of syslog, for a test (null: syslog again).
    // Forked processes keep it.
    using Sink = void (*)(const char* line);

    static void write(const char* line);
    static void setSink(Sink sink);
};

}  // namespace tarvik
