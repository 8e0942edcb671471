#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarvik {

// What the call this process serves now has reported: each back-office
// exchange and spool event (TransferObserver, SpoolObserver) as a
// CallMetrics report line. The FastAGI service forwards the lines to its
// own process; a call Asterisk started keeps them for the metrics file.
// Either way the totals go into the call's summary line. Thread-safe: the
// records' sender thread reports too.
class CallTally {
public:
    // Where every report goes as well (the FastAGI service's CallReports).
    using Forward = void (*)(const std::string& report);

    struct Totals {
        std::size_t requests = 0;
        double longestRequestSeconds = 0;
        // Records the back office did not take when they were sent.
        std::size_t notDelivered = 0;
    };

    // Installs the observers. A forward, once given, stays: a call of a
    // service listens with none and its reports still reach the service.
    static void listen(Forward forward = nullptr);
    // Whether a service takes the reports (they are then not kept here).
    static bool forwarding();
    // A new call: what the last one reported is forgotten.
    static void begin();

    static Totals totals();
    // The report lines kept since begin() (none while forwarding).
    static std::vector<std::string> reports();
};

}  // namespace tarvik
