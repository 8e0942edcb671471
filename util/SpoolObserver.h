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

    // One back office's share of a spool, as a call saw it at its end.
    using OfficeFunction = void (*)(const char* address, std::size_t waiting, std::size_t aside,
                                    double oldestAgeSeconds);

    static void install(Function function);
    static void installOffice(OfficeFunction function);
    static void reportOffice(const char* address, std::size_t waiting, std::size_t aside, double oldestAgeSeconds);
    static void report(const char* event, std::size_t count);
    // Whether anyone listens: counting the waiting records costs a scan.
    static bool installed();
};

}  // namespace tarvik
