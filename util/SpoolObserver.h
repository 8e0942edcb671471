#pragma once

#include <cstddef>

namespace tarvik {

// Lets a service count what happens in the record spool without the spool
// knowing about it, as TransferObserver does for exchanges. Nothing is
// installed by default.
class SpoolObserver {
public:
    // event: "stored", "delivered", "dropped", "set-aside" (count: records),
    // or "waiting" (count: records waiting in the spool just now).
    using Function = void (*)(const char* event, std::size_t count);

    static void install(Function function);
    static void report(const char* event, std::size_t count);
    // Whether anyone listens: counting the waiting records costs a scan.
    static bool installed();
};

}  // namespace tarvik
