#include "metrics/CallMetrics.h"

#include <charconv>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "api/BackOfficeTable.h"
#include "metrics/MetricsText.h"
#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// Calls last seconds to minutes; back-office answers milliseconds to seconds.
const std::vector<double> kCallBounds{1, 5, 10, 30, 60, 120, 300, 600, 1800};
const std::vector<double> kRequestBounds{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// Calls of every provider on the host report their own profiles'
// replacements; beyond this many labels the rest count as "other".
constexpr std::size_t kMaxDestinations = 100;

// The key restoredBuckets and restoredSums keep the call histogram under:
// no operation is named so.
const char* const kCallHistogram = "";

// The exits every dial plan has: 50001..50031.
bool isExit(const std::string& extension) {
    if (extension.size() != 5 || extension.compare(0, 3, "500") != 0) return false;
    if (extension[3] < '0' || extension[3] > '3' || extension[4] < '0' || extension[4] > '9') return false;
    const int number = (extension[3] - '0') * 10 + (extension[4] - '0');
    return number >= 1 && number <= 31;
}

std::string outcomeOf(long code) {
    if (code <= 0) return "failed";
    if (code >= 200 && code < 300) return "2xx";
    if (code >= 400 && code < 500) return "4xx";
    if (code >= 500 && code < 600) return "5xx";
    return "other";
}

// An empty request histogram: copied, its bounds' texts are made once.
const MetricsHistogram& requestHistogram() {
    static const MetricsHistogram empty(kRequestBounds);
    return empty;
}

std::uint64_t counterOf(std::string_view value) {
    std::uint64_t count = 0;
    std::from_chars(value.data(), value.data() + value.size(), count);
    return count;
}

double secondsOf(std::string_view value) {
    double seconds = 0;
    std::from_chars(value.data(), value.data() + value.size(), seconds);
    return seconds;
}

// The value of label `name` in `a="x",b="y"` as render writes them (values
// of the safe alphabet, no escapes); empty when absent.
std::string_view labelOf(std::string_view labels, std::string_view name) {
    std::string_view::size_type at = 0;
    while (at < labels.size()) {
        const auto equals = labels.find("=\"", at);
        if (equals == std::string_view::npos) break;
        const auto close = labels.find('"', equals + 2);
        if (close == std::string_view::npos) break;
        if (labels.substr(at, equals - at) == name) return labels.substr(equals + 2, close - equals - 2);
        at = close + 1;
        if (at < labels.size() && labels[at] == ',') ++at;
    }
    return {};
}

std::string cleanLabel(std::string_view labels, std::string_view name) {
    return MetricsText::labelValue(std::string(labelOf(labels, name)));
}

}  // namespace

CallMetrics::CallMetrics() : callDuration(kCallBounds) {}

std::string CallMetrics::endReport(const std::string& extension, const std::set<std::string>& replacements,
                                   double seconds) {
    std::string key = extension.empty() ? "none" : extension;
    if (!extension.empty() && !isExit(key) && replacements.count(key) == 0) key = "other";
    return formatBounded("call %s %.6f", MetricsText::labelValue(key).c_str(), seconds);
}

std::string CallMetrics::callReport(const std::string& destination, const std::set<std::string>& replacements,
                                    double seconds) {
    // "ivr-exits,50011,1": the extension is what an operator reads.
    std::string extension;
    std::string::size_type first = destination.find(',');
    if (first != std::string::npos) {
        extension = destination.substr(first + 1, destination.find(',', first + 1) - first - 1);
        if (extension.empty()) extension = "other";
    }
    return endReport(extension, replacements, seconds);
}

std::string CallMetrics::spoolReport(const char* event, std::size_t count) {
    return formatBounded("spool %s %zu", event, count);
}

std::string CallMetrics::officeReport(const char* address, std::size_t waiting, std::size_t aside,
                                      double oldestAgeSeconds) {
    return formatBounded("spooloffice %s %zu %zu %.0f", MetricsText::addressLabel(address != nullptr ? address : "").c_str(),
                         waiting, aside, oldestAgeSeconds > 0 ? oldestAgeSeconds : 0.0);
}

CallMetrics::OfficeGauges& CallMetrics::office(const std::string& address) {
    // A service shared by many providers still keeps a bounded exposition.
    constexpr std::size_t kMaxOffices = 20;
    if (spoolOffices.size() >= kMaxOffices && spoolOffices.count(address) == 0) return spoolOffices["other"];
    return spoolOffices[address];
}

std::string CallMetrics::requestReport(const std::string& url, long code, double seconds) {
    return formatBounded("request %s %s %.6f", BackOfficeTable::metricNameOfUrl(url).c_str(), outcomeOf(code).c_str(),
                         seconds);
}

void CallMetrics::apply(const std::string& report) {
    std::istringstream words(report);
    std::string kind, first, second, third;
    words >> kind >> first >> second;
    if (kind == "call" && !second.empty()) {
        std::string key = MetricsText::labelValue(first);
        if (endedByDestination.size() >= kMaxDestinations && endedByDestination.count(key) == 0) key = "other";
        ++endedByDestination[key];
        callDuration.observe(std::strtod(second.c_str(), nullptr));
    } else if (kind == "spooloffice" && (words >> third)) {
        std::string fourth;
        words >> fourth;
        OfficeGauges& gauges = office(first);
        gauges.waiting = std::strtoull(second.c_str(), nullptr, 10);
        gauges.aside = std::strtoull(third.c_str(), nullptr, 10);
        gauges.oldestAgeSeconds = std::strtoull(fourth.c_str(), nullptr, 10);
    } else if (kind == "spool" && !second.empty()) {
        const std::uint64_t count = counterOf(second);
        if (first == "waiting") spoolWaiting = count;
        else if (first == "stored") spoolStored += count;
        else if (first == "delivered") spoolDelivered += count;
        else if (first == "dropped") spoolDropped += count;
        else if (first == "set-aside") spoolSetAside += count;
        else if (first.compare(0, 14, "not-delivered-") == 0) {
            notDelivered[MetricsText::labelValue(first.substr(14))] += count;
        }
    } else if (kind == "request" && (words >> third)) {
        const std::string operation = MetricsText::labelValue(first);
        ++requestsByOutcome[{operation, MetricsText::labelValue(second)}];
        requestLatency.emplace(operation, requestHistogram()).first->second.observe(std::strtod(third.c_str(), nullptr));
    }
}

std::string CallMetrics::render() const {
    using Text = MetricsText;
    const std::string prefix = Text::kPrefix;
    std::string text;
    text += Text::header("calls_ended_total", "counter", "Calls ended, by the extension they were sent to.");
    for (const auto& [key, count] : endedByDestination) {
        text += Text::sample("calls_ended_total", "destination=\"" + key + "\"", count);
    }
    text += Text::header("call_duration_seconds", "histogram", "Duration of the calls served.");
    text += callDuration.render(prefix + "call_duration_seconds", "");
    text += Text::header("backoffice_requests_total", "counter", "Back-office requests, by operation and outcome.");
    for (const auto& [key, count] : requestsByOutcome) {
        text += Text::sample("backoffice_requests_total",
                             "operation=\"" + key.first + "\",outcome=\"" + key.second + "\"", count);
    }
    text += Text::header("backoffice_request_duration_seconds", "histogram", "Back-office request latency.");
    for (const auto& [operation, histogram] : requestLatency) {
        text += histogram.render(prefix + "backoffice_request_duration_seconds", "operation=\"" + operation + "\"");
    }
    text += Text::header("spool_records_waiting", "gauge", "Records waiting in the spool, as the last call to end saw it.");
    text += Text::sample("spool_records_waiting", "", spoolWaiting);
    const struct {
        const char* name;
        const char* help;
        std::uint64_t OfficeGauges::*value;
    } officeGauges[] = {
        {"spool_backoffice_records_waiting", "Records waiting in the spool for this back office, as the last call to "
                                             "end saw it.", &OfficeGauges::waiting},
        {"spool_backoffice_records_aside", "Records of this back office set aside in the spool.", &OfficeGauges::aside},
        {"spool_backoffice_oldest_record_age_seconds", "Age of this back office's oldest waiting record.",
         &OfficeGauges::oldestAgeSeconds},
    };
    for (const auto& gauge : officeGauges) {
        text += Text::header(gauge.name, "gauge", gauge.help);
        for (const auto& [address, gauges] : spoolOffices) {
            text += Text::sample(gauge.name, "backoffice=\"" + address + "\"", gauges.*gauge.value);
        }
    }
    const struct {
        const char* name;
        const char* help;
        std::uint64_t value;
    } spoolCounters[] = {
        {"spool_records_stored_total", "Records the back office could not take, written to the spool.", spoolStored},
        {"spool_records_delivered_total", "Spooled records delivered later.", spoolDelivered},
        {"spool_records_dropped_total", "Spooled records dropped: spool full or record too old.", spoolDropped},
        {"spool_records_set_aside_total", "Spooled records set aside: refused by the back office or not a record.",
         spoolSetAside},
    };
    for (const auto& counter : spoolCounters) {
        text += Text::header(counter.name, "counter", counter.help);
        text += Text::sample(counter.name, "", counter.value);
    }
    text += Text::header("records_not_delivered_total", "counter",
                         "Records the back office did not take when sent, by reason (they wait in the spool or are set "
                         "aside).");
    for (const auto& [reason, count] : notDelivered) {
        text += Text::sample("records_not_delivered_total", "reason=\"" + reason + "\"", count);
    }
    return text;
}

void CallMetrics::restore(const std::string& exposition) {
    restoredBuckets.clear();
    restoredSums.clear();
    // Every call's update reads the whole file: views, not copies, per line.
    const std::string_view prefix = MetricsText::kPrefix;
    const std::string_view all = exposition;
    std::string_view::size_type start = 0;
    while (start < all.size()) {
        std::string_view::size_type end = all.find('\n', start);
        if (end == std::string_view::npos) end = all.size();
        const std::string_view line = all.substr(start, end - start);
        start = end + 1;
        if (line.substr(0, prefix.size()) != prefix) continue;  // comments, blank lines
        const std::string_view::size_type space = line.rfind(' ');
        if (space == std::string_view::npos) continue;
        const std::string_view series = line.substr(0, space);
        const std::string_view::size_type brace = series.find('{');
        std::string_view name = series.substr(prefix.size());
        std::string_view labels;
        if (brace != std::string_view::npos) {
            name = series.substr(prefix.size(), brace - prefix.size());
            if (series.back() == '}') labels = series.substr(brace + 1, series.size() - brace - 2);
        }
        restoreSample(name, labels, line.substr(space + 1));
    }
    // The histograms, once every bucket of each is known.
    for (const auto& [key, buckets] : restoredBuckets) {
        MetricsHistogram& histogram =
            key == kCallHistogram ? callDuration
                                  : requestLatency.emplace(key, requestHistogram()).first->second;
        std::vector<std::uint64_t> cumulative(histogram.bucketCount(), 0);
        std::uint64_t last = 0;
        for (std::size_t index = 0; index < cumulative.size(); ++index) {
            auto found = buckets.find(static_cast<int>(index));
            if (found != buckets.end()) last = found->second;
            cumulative[index] = last;
        }
        auto sum = restoredSums.find(key);
        histogram.restore(cumulative, sum == restoredSums.end() ? 0 : sum->second);
    }
    restoredBuckets.clear();
    restoredSums.clear();
}

void CallMetrics::restoreSample(std::string_view name, std::string_view labels, std::string_view value) {
    if (name == "calls_ended_total") {
        endedByDestination[cleanLabel(labels, "destination")] += counterOf(value);
    } else if (name == "backoffice_requests_total") {
        requestsByOutcome[{cleanLabel(labels, "operation"), cleanLabel(labels, "outcome")}] += counterOf(value);
    } else if (name == "records_not_delivered_total") {
        notDelivered[cleanLabel(labels, "reason")] += counterOf(value);
    } else if (name == "spool_records_waiting") {
        spoolWaiting = counterOf(value);
    } else if (name == "spool_backoffice_records_waiting") {
        office(std::string(labelOf(labels, "backoffice"))).waiting = counterOf(value);
    } else if (name == "spool_backoffice_records_aside") {
        office(std::string(labelOf(labels, "backoffice"))).aside = counterOf(value);
    } else if (name == "spool_backoffice_oldest_record_age_seconds") {
        office(std::string(labelOf(labels, "backoffice"))).oldestAgeSeconds = counterOf(value);
    } else if (name == "spool_records_stored_total") {
        spoolStored += counterOf(value);
    } else if (name == "spool_records_delivered_total") {
        spoolDelivered += counterOf(value);
    } else if (name == "spool_records_dropped_total") {
        spoolDropped += counterOf(value);
    } else if (name == "spool_records_set_aside_total") {
        spoolSetAside += counterOf(value);
    } else if (name == "call_duration_seconds_bucket" || name == "backoffice_request_duration_seconds_bucket") {
        const bool call = name == "call_duration_seconds_bucket";
        const std::string key = call ? kCallHistogram : cleanLabel(labels, "operation");
        const int bucket = (call ? callDuration : requestHistogram()).bucketOf(std::string(labelOf(labels, "le")));
        if (bucket >= 0) restoredBuckets[key][bucket] = counterOf(value);
    } else if (name == "call_duration_seconds_sum") {
        restoredSums[kCallHistogram] = secondsOf(value);
    } else if (name == "backoffice_request_duration_seconds_sum") {
        restoredSums[cleanLabel(labels, "operation")] = secondsOf(value);
    }
}

}  // namespace tarvik
