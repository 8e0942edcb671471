#include "fastagi/ServiceMetrics.h"

namespace tarvik {

namespace {
using Text = MetricsText;
}  // namespace

void ServiceMetrics::callRefused(const std::string& reason) { ++refusedByReason[Text::labelValue(reason)]; }

void ServiceMetrics::callCrashed() { ++crashed; }

void ServiceMetrics::processStarted() { ++started; }

void ServiceMetrics::processReplaced(const std::string& reason) { ++replacedByReason[Text::labelValue(reason)]; }

void ServiceMetrics::processLeftIdle() { ++leftIdle; }

void ServiceMetrics::processesNow(std::size_t count) { processes = count; }

void ServiceMetrics::endpointRequest(const std::string& path) { ++endpointRequests[path]; }

std::string ServiceMetrics::render(std::size_t callsInProgress, std::size_t maxCalls, bool accepting) const {
    std::string text;
    text += Text::header("calls_in_progress", "gauge", "Calls being served now.");
    text += Text::sample("calls_in_progress", "", callsInProgress);
    text += Text::header("calls_max", "gauge", "Calls the service serves at once (--max-calls).");
    text += Text::sample("calls_max", "", maxCalls);
    text += Text::header("accepting_calls", "gauge", "1 while the service accepts calls, 0 while it drains.");
    text += Text::sample("accepting_calls", "", accepting ? 1 : 0);
    text += calls.render();
    text += Text::header("calls_refused_total", "counter", "Connections refused, by reason.");
    for (const auto& [reason, count] : refusedByReason) {
        text += Text::sample("calls_refused_total", "reason=\"" + reason + "\"", count);
    }
    text += Text::header("calls_crashed_total", "counter", "Calls whose process died in mid-call.");
    text += Text::sample("calls_crashed_total", "", crashed);
    text += Text::header("call_processes", "gauge", "Call processes there are, busy or waiting.");
    text += Text::sample("call_processes", "", processes);
    text += Text::header("call_processes_started_total", "counter", "Call processes started.");
    text += Text::sample("call_processes_started_total", "", started);
    text += Text::header("call_processes_replaced_total", "counter", "Call processes replaced, by reason.");
    for (const auto& [reason, count] : replacedByReason) {
        text += Text::sample("call_processes_replaced_total", "reason=\"" + reason + "\"", count);
    }
    text += Text::header("call_processes_idle_left_total", "counter", "Call processes beyond the spare ones that left idle.");
    text += Text::sample("call_processes_idle_left_total", "", leftIdle);
    text += Text::header("metrics_requests_total", "counter", "Requests answered by this endpoint, by path.");
    for (const auto& [path, count] : endpointRequests) {
        text += Text::sample("metrics_requests_total", "path=\"" + path + "\"", count);
    }
    return text;
}

}  // namespace tarvik
