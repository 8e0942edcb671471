#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "metrics/MetricsHistogram.h"

namespace tarvik {

// The numbers calls make, whoever serves them: where calls ended and how
// long they took, the back office's answers and their latency, what
// happened to records in the spool. The FastAGI service keeps one in its
// process (ServiceMetrics); the calls Asterisk starts one process each add
// theirs to a metrics file (MetricsFile). Same names and labels both ways,
// so one dashboard reads either.
//
// A call describes what it saw as one-line reports ("call KEY SECONDS",
// "request OPERATION OUTCOME SECONDS", "spool EVENT COUNT"), which apply()
// adds up.
class CallMetrics {
public:
    CallMetrics();

    // Anything that is not a report is ignored.
    void apply(const std::string& report);

    // The report of a call's end. The key is the extension when it is an
    // exit (50001..50031) or in `replacements` (the profile's), "other" for
    // any other (a forwarding text from the back office), "none" when the
    // call was not sent anywhere (empty extension).
    static std::string endReport(const std::string& extension, const std::set<std::string>& replacements,
                                 double seconds);
    // The same from a dial-plan target ("ivr-exits,50011,1", or "-").
    static std::string callReport(const std::string& destination, const std::set<std::string>& replacements,
                                  double seconds);
    // outcome from the HTTP code: "2xx", "4xx", "5xx", "other", "failed" (no answer).
    static std::string requestReport(const std::string& url, long code, double seconds);
    // event as SpoolObserver gives it.
    static std::string spoolReport(const char* event, std::size_t count);
    // One back office's share of a spool, as a call saw it at its end.
    static std::string officeReport(const char* address, std::size_t waiting, std::size_t aside,
                                    double oldestAgeSeconds);

    // The families in the text exposition format, HELP and TYPE included.
    std::string render() const;
    // On a fresh object: takes back the numbers of a text render() wrote;
    // lines it does not know are skipped.
    void restore(const std::string& exposition);

private:
    void restoreSample(std::string_view name, std::string_view labels, std::string_view value);

    std::map<std::string, std::uint64_t> endedByDestination;
    std::map<std::pair<std::string, std::string>, std::uint64_t> requestsByOutcome;
    std::map<std::string, MetricsHistogram> requestLatency;
    MetricsHistogram callDuration;
    std::uint64_t spoolWaiting = 0;
    struct OfficeGauges {
        std::uint64_t waiting = 0;
        std::uint64_t aside = 0;
        std::uint64_t oldestAgeSeconds = 0;
    };
    // By back-office address; a bounded number of labels, then "other".
    std::map<std::string, OfficeGauges> spoolOffices;
    OfficeGauges& office(const std::string& address);
    std::uint64_t spoolStored = 0;
    std::uint64_t spoolDelivered = 0;
    std::uint64_t spoolDropped = 0;
    std::uint64_t spoolSetAside = 0;
    // Reasons are a fixed few: "time-out", "no-connection", "retry-later", ...
    std::map<std::string, std::uint64_t> notDelivered;

    // While restoring: the histograms' cumulative buckets and sums, by label.
    std::map<std::string, std::map<int, std::uint64_t>> restoredBuckets;
    std::map<std::string, double> restoredSums;
};

}  // namespace tarvik
