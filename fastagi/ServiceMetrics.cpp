#include "fastagi/ServiceMetrics.h"

#include <cstdlib>
#include <sstream>
#include <vector>

#include "fastagi/BackOfficeOperation.h"
#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// Calls last seconds to minutes; back-office answers milliseconds to seconds.
const std::vector<double> kCallBounds{1, 5, 10, 30, 60, 120, 300, 600, 1800};
const std::vector<double> kRequestBounds{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

// Label values come from configuration and the back office's paths: keep
// them to a safe alphabet so the exposition stays parseable.
std::string labelValue(const std::string& text) {
    std::string clean;
    for (char c : text.substr(0, 64)) {
        bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                     c == '-' || c == '.';
        clean += plain ? c : '_';
    }
    return clean.empty() ? "none" : clean;
}

// The exits every dial plan has: 50001..50031.
bool isExit(const std::string& extension) {
    if (extension.size() != 5 || extension.compare(0, 3, "500") != 0) return false;
    if (extension[3] < '0' || extension[3] > '3' || extension[4] < '0' || extension[4] > '9') return false;
    const int number = (extension[3] - '0') * 10 + (extension[4] - '0');
    return number >= 1 && number <= 31;
}

// Calls of every provider on the host report their own profiles'
// replacements; beyond this many labels the rest count as "other".
constexpr std::size_t kMaxDestinations = 100;

std::string header(const std::string& name, const char* type, const char* help) {
    return formatBounded("# HELP %s%s %s\n# TYPE %s%s %s\n", ServiceMetrics::kPrefix, name.c_str(), help,
                         ServiceMetrics::kPrefix, name.c_str(), type);
}

std::string sample(const std::string& name, const std::string& labels, unsigned long long value) {
    const std::string braces = labels.empty() ? "" : "{" + labels + "}";
    return formatBounded("%s%s%s %llu\n", ServiceMetrics::kPrefix, name.c_str(), braces.c_str(), value);
}

std::string outcomeOf(long code) {
    if (code <= 0) return "failed";
    if (code >= 200 && code < 300) return "2xx";
    if (code >= 400 && code < 500) return "4xx";
    if (code >= 500 && code < 600) return "5xx";
    return "other";
}

}  // namespace

ServiceMetrics::ServiceMetrics() : callDuration(kCallBounds) {}

void ServiceMetrics::callRefused(const std::string& reason) { ++refusedByReason[labelValue(reason)]; }

void ServiceMetrics::callCrashed() { ++crashed; }

void ServiceMetrics::processStarted() { ++started; }

void ServiceMetrics::processReplaced(const std::string& reason) { ++replacedByReason[labelValue(reason)]; }

void ServiceMetrics::processLeftIdle() { ++leftIdle; }

void ServiceMetrics::processesNow(std::size_t count) { processes = count; }

void ServiceMetrics::endpointRequest(const std::string& path) { ++endpointRequests[path]; }

std::string ServiceMetrics::callReport(const std::string& destination, const std::set<std::string>& replacements,
                                       double seconds) {
    // "ivr-exits,50011,1": the extension is what an operator reads.
    std::string key = "none";
    std::string::size_type first = destination.find(',');
    if (first != std::string::npos) {
        key = destination.substr(first + 1, destination.find(',', first + 1) - first - 1);
        if (!isExit(key) && replacements.count(key) == 0) key = "other";
    }
    return formatBounded("call %s %.6f", labelValue(key).c_str(), seconds);
}

std::string ServiceMetrics::spoolReport(const char* event, std::size_t count) {
    return formatBounded("spool %s %zu", event, count);
}

std::string ServiceMetrics::requestReport(const std::string& url, long code, double seconds) {
    return formatBounded("request %s %s %.6f", BackOfficeOperation::fromUrl(url).c_str(), outcomeOf(code).c_str(),
                         seconds);
}

void ServiceMetrics::apply(const std::string& report) {
    std::istringstream words(report);
    std::string kind, first, second, third;
    words >> kind >> first >> second;
    if (kind == "call" && !second.empty()) {
        std::string key = labelValue(first);
        if (endedByDestination.size() >= kMaxDestinations && endedByDestination.count(key) == 0) key = "other";
        ++endedByDestination[key];
        callDuration.observe(std::strtod(second.c_str(), nullptr));
    } else if (kind == "spool" && !second.empty()) {
        const std::uint64_t count = std::strtoull(second.c_str(), nullptr, 10);
        if (first == "waiting") spoolWaiting = count;
        else if (first == "stored") spoolStored += count;
        else if (first == "delivered") spoolDelivered += count;
        else if (first == "dropped") spoolDropped += count;
        else if (first == "set-aside") spoolSetAside += count;
        else if (first.compare(0, 14, "not-delivered-") == 0) notDelivered[labelValue(first.substr(14))] += count;
    } else if (kind == "request" && (words >> third)) {
        const std::string operation = labelValue(first);
        ++requestsByOutcome[{operation, labelValue(second)}];
        requestLatency.emplace(operation, MetricsHistogram(kRequestBounds))
            .first->second.observe(std::strtod(third.c_str(), nullptr));
    }
}

std::string ServiceMetrics::render(std::size_t callsInProgress, std::size_t maxCalls, bool accepting) const {
    std::string text;
    text += header("calls_in_progress", "gauge", "Calls being served now.");
    text += sample("calls_in_progress", "", callsInProgress);
    text += header("calls_max", "gauge", "Calls the service serves at once (--max-calls).");
    text += sample("calls_max", "", maxCalls);
    text += header("accepting_calls", "gauge", "1 while the service accepts calls, 0 while it drains.");
    text += sample("accepting_calls", "", accepting ? 1 : 0);
    text += header("calls_ended_total", "counter", "Calls ended, by the extension they were sent to.");
    for (const auto& [key, count] : endedByDestination) text += sample("calls_ended_total", "destination=\"" + key + "\"", count);
    text += header("calls_refused_total", "counter", "Connections refused, by reason.");
    for (const auto& [reason, count] : refusedByReason) text += sample("calls_refused_total", "reason=\"" + reason + "\"", count);
    text += header("calls_crashed_total", "counter", "Calls whose process died in mid-call.");
    text += sample("calls_crashed_total", "", crashed);
    text += header("call_duration_seconds", "histogram", "Duration of the calls served.");
    text += callDuration.render(std::string(kPrefix) + "call_duration_seconds", "");
    text += header("backoffice_requests_total", "counter", "Back-office requests, by operation and outcome.");
    for (const auto& [key, count] : requestsByOutcome) {
        text += sample("backoffice_requests_total",
                       "operation=\"" + key.first + "\",outcome=\"" + key.second + "\"", count);
    }
    text += header("backoffice_request_duration_seconds", "histogram", "Back-office request latency.");
    for (const auto& [operation, histogram] : requestLatency) {
        text += histogram.render(std::string(kPrefix) + "backoffice_request_duration_seconds",
                                 "operation=\"" + operation + "\"");
    }
    text += header("spool_records_waiting", "gauge", "Records waiting in the spool, as the last call to end saw it.");
    text += sample("spool_records_waiting", "", spoolWaiting);
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
        text += header(counter.name, "counter", counter.help);
        text += sample(counter.name, "", counter.value);
    }
    text += header("records_not_delivered_total", "counter",
                   "Records the back office did not take when sent, by reason (they wait in the spool or are set aside).");
    for (const auto& [reason, count] : notDelivered) {
        text += sample("records_not_delivered_total", "reason=\"" + reason + "\"", count);
    }
    text += header("call_processes", "gauge", "Call processes there are, busy or waiting.");
    text += sample("call_processes", "", processes);
    text += header("call_processes_started_total", "counter", "Call processes started.");
    text += sample("call_processes_started_total", "", started);
    text += header("call_processes_replaced_total", "counter", "Call processes replaced, by reason.");
    for (const auto& [reason, count] : replacedByReason) {
        text += sample("call_processes_replaced_total", "reason=\"" + reason + "\"", count);
    }
    text += header("call_processes_idle_left_total", "counter", "Call processes beyond the spare ones that left idle.");
    text += sample("call_processes_idle_left_total", "", leftIdle);
    text += header("metrics_requests_total", "counter", "Requests answered by this endpoint, by path.");
    for (const auto& [path, count] : endpointRequests) {
        text += sample("metrics_requests_total", "path=\"" + path + "\"", count);
    }
    return text;
}

}  // namespace tarvik
