// bench-metrics-file: what adding one call to the metrics file costs, as a
// call Asterisk started pays it after the hand-back: the lock, reading the
// file back, writing the new one and renaming it in place (MetricsFile).
// The file starts as a busy host's (every operation, several exits and
// reasons); each update adds a whole call's reports.
// Usage: bench-metrics-file [--updates N] [--work DIR]

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "metrics/CallMetrics.h"
#include "metrics/MetricsFile.h"

using namespace tarvik;

namespace {

constexpr double kTargetMs = 0.3;

// What an invoice call reports: its requests, its records, its end.
std::vector<std::string> oneCall(int index) {
    const char* const operations[] = {"ready", "find_by_phone", "send_invoice", "protocol", "external_protocol",
                                      "recall_search", "recall_register", "identification"};
    std::vector<std::string> reports;
    for (const char* operation : operations) {
        reports.push_back(std::string("request ") + operation + " 2xx 0.0" + std::to_string(1 + index % 9));
    }
    for (int entry = 0; entry < 6; ++entry) reports.push_back("request log 2xx 0.004");
    reports.push_back("request event 2xx 0.003");
    if (index % 10 == 0) reports.push_back("spool not-delivered-time-out 1");
    reports.push_back("spool waiting " + std::to_string(index % 3));
    const char* const exits[] = {"50011", "50005", "50022", "50007", "7000"};
    reports.push_back(CallMetrics::endReport(exits[index % 5], {"7000"}, 20 + index % 40));
    return reports;
}

}  // namespace

int main(int argc, char** argv) {
    int updates = 2000;
    std::string work;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string name = argv[index];
        if (name == "--updates") updates = std::max(10, std::atoi(argv[index + 1]));
        else if (name == "--work") work = argv[index + 1];
    }
    bool ownWork = work.empty();
    if (ownWork) {
        char pattern[] = "/tmp/bench-metrics-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::cerr << "bench-metrics-file: cannot make a work folder\n";
            return 1;
        }
        work = pattern;
    }
    const std::string path = work + "/ivr-orvel.prom";
    std::string failure;
    // A host that has served a while: every label there already.
    for (int call = 0; call < 50; ++call) {
        if (!MetricsFile::add(path, oneCall(call), failure)) {
            std::cerr << "bench-metrics-file: " << failure << "\n";
            return 1;
        }
    }
    std::vector<double> costs;
    costs.reserve(static_cast<std::size_t>(updates));
    for (int call = 0; call < updates; ++call) {
        const std::vector<std::string> reports = oneCall(call);
        const auto start = std::chrono::steady_clock::now();
        const bool added = MetricsFile::add(path, reports, failure);
        costs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (!added) {
            std::cerr << "bench-metrics-file: " << failure << "\n";
            return 1;
        }
    }
    const std::uintmax_t bytes = std::filesystem::file_size(path);
    std::vector<double> sorted = costs;
    std::sort(sorted.begin(), sorted.end());
    const double p99 = sorted[sorted.size() * 99 / 100];
    const double middle = median(costs);

    std::cout << "\nmetrics file (metricsFile): " << updates << " calls added one after another to a file of " << bytes
              << " bytes; load average " << loadAverage() << "\n";
    TextTable table({"measure", "median", "p99", "target", "verdict"});
    table.add({"metrics file update per call (ms)", fixed(middle, 3), fixed(p99, 3),
               "<= " + fixed(kTargetMs, 1) + " median", middle <= kTargetMs ? "met" : "MISSED"});
    std::cout << table.render();
    if (ownWork) std::filesystem::remove_all(work);
    return 0;
}
