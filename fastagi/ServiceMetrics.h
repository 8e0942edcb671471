#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "fastagi/MetricsHistogram.h"

namespace tarvik {

// The service's numbers, kept in the service process and written in the
// Prometheus text format. Call processes report what only they see (where
// a call ended, each back-office exchange) as one-line reports, which
// apply() reads; see CallReports.
class ServiceMetrics {
public:
    static constexpr const char* kPrefix = "ivr_";

    ServiceMetrics();

    void callRefused(const std::string& reason);
    // A call process ended by a signal in mid-call.
    void callCrashed();
    void processStarted();
    void processReplaced(const std::string& reason);
    // A call process beyond the spare ones left after waiting idle.
    void processLeftIdle();
    // Call processes there are now, for the next render.
    void processesNow(std::size_t count);
    // A request the metrics endpoint answered ("/health", "/metrics").
    void endpointRequest(const std::string& path);

    // "call KEY SECONDS", "request OPERATION OUTCOME SECONDS" or
    // "spool EVENT COUNT"; anything else is ignored.
    void apply(const std::string& report);

    // Report lines for apply(), as a call process writes them. The key is the
    // destination's extension when it is an exit (50001..50031) or one of
    // the profile's `replacements`, "other" for any other (a forwarding text
    // from the back office), "none" when the call was not sent anywhere.
    static std::string callReport(const std::string& destination, const std::set<std::string>& replacements,
                                  double seconds);
    // outcome from the HTTP code: "2xx", "4xx", "5xx", "other", "failed" (no answer).
    static std::string requestReport(const std::string& url, long code, double seconds);
    // event as SpoolObserver gives it.
    static std::string spoolReport(const char* event, std::size_t count);

    std::string render(std::size_t callsInProgress, std::size_t maxCalls, bool accepting) const;

private:
    std::map<std::string, std::uint64_t> endedByDestination;
    std::map<std::string, std::uint64_t> refusedByReason;
    std::map<std::pair<std::string, std::string>, std::uint64_t> requestsByOutcome;
    std::map<std::string, MetricsHistogram> requestLatency;
    std::map<std::string, std::uint64_t> replacedByReason;
    std::map<std::string, std::uint64_t> endpointRequests;
    MetricsHistogram callDuration;
    std::uint64_t spoolWaiting = 0;
    std::uint64_t spoolStored = 0;
    std::uint64_t spoolDelivered = 0;
    std::uint64_t spoolDropped = 0;
    std::uint64_t spoolSetAside = 0;
    // Reasons are a fixed few: "time-out", "no-connection", "retry-later", ...
    std::map<std::string, std::uint64_t> notDelivered;
    std::uint64_t crashed = 0;
    std::uint64_t started = 0;
    std::uint64_t leftIdle = 0;
    std::size_t processes = 0;
};

}  // namespace tarvik
