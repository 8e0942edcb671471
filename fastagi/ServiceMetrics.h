#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "metrics/CallMetrics.h"
#include "metrics/MetricsText.h"

namespace tarvik {

// The service's numbers, kept in the service process and written in the
// Prometheus text format: the calls' own (CallMetrics, the same a metrics
// file of process-per-call calls holds) and the service's. Call processes
// report what only they see (where a call ended, each back-office
// exchange) as one-line reports, which apply() reads; see CallReports.
class ServiceMetrics {
public:
    static constexpr const char* kPrefix = MetricsText::kPrefix;

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

    // A call's report (CallMetrics::apply); anything else is ignored.
    void apply(const std::string& report) { calls.apply(report); }

    std::string render(std::size_t callsInProgress, std::size_t maxCalls, bool accepting) const;

private:
    CallMetrics calls;
    std::map<std::string, std::uint64_t> refusedByReason;
    std::map<std::string, std::uint64_t> replacedByReason;
    std::map<std::string, std::uint64_t> endpointRequests;
    std::uint64_t crashed = 0;
    std::uint64_t started = 0;
    std::uint64_t leftIdle = 0;
    std::size_t processes = 0;
};

}  // namespace tarvik
