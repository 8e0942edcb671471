// ivr_bench: measures ivr-orvel as Asterisk runs it. It plays Asterisk over
// real pipes (start-up block, one reply per command), runs the back-office
// simulator on a loopback port, and compares the IVR with bench-floor, a
// program that only loads the same libraries and initialises libcurl.
// Usage: ivr_bench --ivr PATH --floor PATH --sim PATH --config FILE --data FILE
//                  [--runs N] [--calls N] [--rounds N] [--work DIR] [--deadline SECONDS]
//                  [--caller NUMBER] [--answer PROMPT=DIGITS]... [--expect "EXEC Goto ..."]
//                  [--wait-runs N] [--only caller-wait|main]
// The caller-wait section (CallerWaitBench) follows the main table;
// "--only caller-wait" runs it alone (then --floor is not needed).

#include "bench/AgiPeer.h"
#include "bench/BackOfficeSim.h"
#include "bench/BenchReport.h"
#include "bench/CallRunner.h"
#include "bench/CallerWaitBench.h"
#include "bench/LeftBehind.h"
#include "bench/RemoteRecords.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include <json/json.h>

using namespace tarvik;

namespace {

struct Options {
    std::string ivr, floor, sim, config, data, work;
    int runs = 20;
    int calls = 200;
    int rounds = 5;
    std::chrono::milliseconds callDeadline{30000};    // one call alone
    std::chrono::milliseconds batchDeadline{180000};  // a whole concurrent batch
    std::string callerId = "11987654321";  // CL-5001: one connected contract, one open invoice
    std::string destination = "atendimento";
    std::string expectedGoto = "EXEC Goto ivr-exits,50011,1";  // InvoiceSent
    AgiScript script{{{"Orvel-u4-33", "1"}}};                    // yes, send me the invoice
    int waitRuns = 3;   // caller wait: runs per cell
    std::string only;   // empty: every section; "caller-wait": that one alone
};


bool parseOptions(int argc, char** argv, Options& options) {
    for (int index = 1; index < argc; ++index) {
        std::string name = argv[index];
        if (index + 1 >= argc) {
            std::cerr << "ivr_bench: " << name << " needs a value\n";
            return false;
        }
        std::string value = argv[++index];
        if (name == "--ivr") options.ivr = value;
        else if (name == "--floor") options.floor = value;
        else if (name == "--sim") options.sim = value;
        else if (name == "--config") options.config = value;
        else if (name == "--data") options.data = value;
        else if (name == "--work") options.work = value;
        else if (name == "--runs") options.runs = std::max(1, std::atoi(value.c_str()));
        else if (name == "--calls") options.calls = std::max(1, std::atoi(value.c_str()));
        else if (name == "--rounds") options.rounds = std::max(1, std::atoi(value.c_str()));
        else if (name == "--deadline") {
            int seconds = std::max(1, std::atoi(value.c_str()));
            options.callDeadline = std::chrono::seconds(seconds);
            options.batchDeadline = std::chrono::seconds(6 * seconds);
        }
        else if (name == "--caller") options.callerId = value;
        else if (name == "--expect") options.expectedGoto = value;
        else if (name == "--wait-runs") options.waitRuns = std::max(1, std::atoi(value.c_str()));
        else if (name == "--only") {
            if (value != "caller-wait" && value != "main") {
                std::cerr << "ivr_bench: --only knows two sections: main, caller-wait\n";
                return false;
            }
            options.only = value;
        }
        else if (name == "--answer") {
            std::size_t equals = value.find('=');
            if (equals == std::string::npos) {
                std::cerr << "ivr_bench: --answer wants PROMPT=DIGITS\n";
                return false;
            }
            options.script.digitsByPrompt[value.substr(0, equals)] = value.substr(equals + 1);
        } else {
            std::cerr << "ivr_bench: unknown option " << name << "\n";
            return false;
        }
    }
    if (options.ivr.empty() || (options.floor.empty() && options.only != "caller-wait") || options.sim.empty() ||
        options.config.empty() || options.data.empty()) {
        std::cerr << "ivr_bench: --ivr, --floor, --sim, --config and --data are required\n";
        return false;
    }
    return true;
}

// The example configuration with the back office on the simulator's port,
// the debug file and the spool in the work directory. Returns the token.
bool writeConfiguration(const Options& options, int port, const std::string& path, std::string& token,
                        bool backgroundRecords) {
    std::ifstream in(options.config);
    Json::Value config;
    Json::CharReaderBuilder reader;
    std::string error;
    if (!in || !Json::parseFromStream(reader, in, &config, &error) || !config.isObject()) {
        std::cerr << "ivr_bench: cannot read " << options.config << " " << error << "\n";
        return false;
    }
    config["kestro"] = "http://127.0.0.1:" + std::to_string(port);
    config["debug"] = options.work + "/ivr-debug.log";
    // As an installed system has it: what a call cannot deliver waits there
    // for the next call.
    config["spoolDirectory"] = options.work + "/spool";
    // Each call adds its numbers after the hand-back, as on a host.
    config["metricsFile"] = options.work + "/ivr-orvel.prom";
    config["backgroundRecords"] = backgroundRecords;
    token = config["token"].asString();
    std::ofstream out(path);
    Json::StreamWriterBuilder writer;
    out << Json::writeString(writer, config) << "\n";
    return static_cast<bool>(out);
}

class CallFactory {
public:
    CallFactory(const Options& options, std::string configPath, std::string idPrefix = "1796777065.")
        : options_(options), configPath_(std::move(configPath)), idPrefix_(std::move(idPrefix)) {}

    CallPlan next(std::string& uniqueId) {
        ++sequence_;
        uniqueId = idPrefix_ + std::to_string(sequence_);
        return CallPlan::sampleCall(options_.ivr, options_.destination, configPath_, options_.callerId, uniqueId,
                                    100000 + sequence_);
    }

private:
    const Options& options_;
    std::string configPath_;
    std::string idPrefix_;
    int sequence_ = 0;
};

struct CallRecord {
    std::string uniqueId;
    CallOutcome outcome;
};

// A call is good when it exited with 0 and its last Goto is the expected one
// (the runner still logs its end after the Goto).
std::string callProblem(const CallOutcome& outcome, const std::string& expectedGoto) {
    if (!outcome.started || !outcome.exited) {
        return outcome.error.empty() ? "did not finish" : outcome.error;
    }
    if (outcome.exitStatus != 0) {
        return "exit status " + std::to_string(outcome.exitStatus);
    }
    std::string lastGoto;
    for (const std::string& command : outcome.commands) {
        if (command.compare(0, 10, "EXEC Goto ") == 0) {
            lastGoto = command;
        }
    }
    if (lastGoto != expectedGoto) {
        return "last Goto \"" + lastGoto + "\" instead of \"" + expectedGoto + "\"";
    }
    return std::string();
}

std::string verdict(bool measured, bool met) {
    if (!measured) {
        return "no data";
    }
    return met ? "met" : "MISSED";
}

// The main table: start-up, whole call, connections, concurrent calls and
// nothing lost, beside the floor program.
void runMainTable(const Options& options, int errorFd, const std::string& loadBefore,
                  std::vector<std::string>& problems) {
    std::string journal = options.work + "/journal.jsonl";
    std::string configPath = options.work + "/orvel.json";
    std::string error;

    // The token must be known before the simulator starts, the port only after.
    std::string token;
    {
        std::ifstream in(options.config);
        Json::Value config;
        Json::CharReaderBuilder reader;
        if (in && Json::parseFromStream(reader, in, &config, &error) && config.isObject()) {
            token = config["token"].asString();
        }
    }
    // The simulator serves each open connection on a thread of its own, and
    // a call keeps up to three open (its path, the requests it starts early,
    // its records): 200 calls at once need 600 threads, or their requests
    // queue for seconds.
    BackOfficeSim sim;
    const std::string threads = std::to_string(std::max(64, 3 * options.calls + 16));
    if (!sim.start(options.sim,
                   {"--data", options.data, "--token", token, "--journal", journal, "--recall-window", "0",
                    "--threads", threads},
                   errorFd, error)) {
        problems.push_back(error);
        return;
    }
    // The same configuration with every record sent in line, for the
    // concurrent rounds run beside those with records in the background.
    const std::string inlineConfigPath = options.work + "/orvel-inline.json";
    if (!writeConfiguration(options, sim.port(), configPath, token, true) ||
        !writeConfiguration(options, sim.port(), inlineConfigPath, token, false)) {
        problems.push_back("cannot write " + configPath);
        return;
    }

    CallRunner runner(options.script, errorFd);
    CallFactory factory(options, configPath);
    CallFactory inlineFactory(options, inlineConfigPath, "1796777066.");
    std::vector<CallRecord> allCalls;
    auto runOne = [&](const CallPlan& plan) { return runner.run({plan}, options.callDeadline).front(); };

    // Warm-up (page cache, simulator threads); not counted.
    for (int round = 0; round < 3; ++round) {
        std::string uniqueId;
        CallPlan plan = factory.next(uniqueId);
        allCalls.push_back({uniqueId, runOne(plan)});
        runOne(CallPlan{{options.floor}, std::string()});
    }

    // Sequential runs, IVR and floor interleaved so that drift hits both.
    std::vector<double> ivrStart, floorStart, ivrWall, floorWall, ivrCpu, floorCpu, ivrRss, floorRss;
    std::vector<double> connections, requests;
    std::cerr << "ivr_bench: " << options.runs << " single calls";
    for (int run = 0; run < options.runs; ++run) {
        CallOutcome floor = runOne(CallPlan{{options.floor}, std::string()});
        if (!floor.exited || floor.exitStatus != 0 || floor.firstCommandMs < 0) {
            problems.push_back("floor run failed: " + floor.error);
            continue;
        }
        floorStart.push_back(floor.firstCommandMs);
        floorWall.push_back(floor.wallMs);
        floorCpu.push_back(floor.cpuMs);
        floorRss.push_back(floor.peakRssKiB / 1024.0);

        SimStats before, after;
        std::string uniqueId;
        bool counted = sim.stats(before, error);
        CallOutcome call = runOne(factory.next(uniqueId));
        counted = counted && sim.stats(after, error);
        allCalls.push_back({uniqueId, call});
        std::string problem = callProblem(call, options.expectedGoto);
        if (!problem.empty()) {
            problems.push_back("call " + uniqueId + ": " + problem);
            continue;
        }
        ivrStart.push_back(call.firstCommandMs);
        ivrWall.push_back(call.wallMs);
        ivrCpu.push_back(call.cpuMs);
        ivrRss.push_back(call.peakRssKiB / 1024.0);
        if (counted) {
            // The second stats request's own connection is counted too.
            connections.push_back(static_cast<double>(after.connections - before.connections - 1));
            requests.push_back(static_cast<double>(after.requests - before.requests));
        } else {
            problems.push_back("simulator stats: " + error);
        }
        std::cerr << "." << std::flush;
    }
    std::cerr << "\n";

    // Concurrent batches: every call started at once, rounds with records
    // in the background and in line interleaved so that drift hits both.
    std::vector<double> callsPerSecond, slowest, inlineCallsPerSecond, batchCpu;
    int concurrentGood = 0, concurrentTotal = 0;
    double slowestEver = 0;
    std::cerr << "ivr_bench: " << options.rounds << " rounds of " << options.calls
              << " concurrent calls, records in the background and in line";
    for (int round = 0; round < 2 * options.rounds; ++round) {
        const bool inLine = round % 2 == 1;
        std::vector<CallPlan> plans;
        std::vector<std::string> ids;
        for (int index = 0; index < options.calls; ++index) {
            std::string uniqueId;
            plans.push_back((inLine ? inlineFactory : factory).next(uniqueId));
            ids.push_back(uniqueId);
        }
        std::vector<CallOutcome> outcomes = runner.run(plans, options.batchDeadline);
        double worst = 0;
        double cpu = runner.lastLeftBehindCpuMs();
        for (std::size_t index = 0; index < outcomes.size(); ++index) {
            ++concurrentTotal;
            std::string problem = callProblem(outcomes[index], options.expectedGoto);
            if (problem.empty()) {
                ++concurrentGood;
            } else {
                problems.push_back("concurrent call " + ids[index] + ": " + problem);
            }
            worst = std::max(worst, outcomes[index].wallMs);
            cpu += outcomes[index].cpuMs;
            allCalls.push_back({ids[index], std::move(outcomes[index])});
        }
        (inLine ? inlineCallsPerSecond : callsPerSecond).push_back(options.calls / (runner.lastBatchMs() / 1000.0));
        if (!inLine) {
            slowest.push_back(worst);
            slowestEver = std::max(slowestEver, worst);
            batchCpu.push_back(cpu / options.calls);
        }
        std::cerr << "." << std::flush;
    }
    std::cerr << "\n";

    // Nothing lost: what each call's transcript says it sent is in the journal.
    std::map<std::string, RemoteRecords> journaled;
    int impliedLogger = 0, impliedEvents = 0, journaledLogger = 0, journaledEvents = 0, callsDiffering = 0;
    if (!RemoteRecordCheck::readJournal(journal, journaled, error)) {
        problems.push_back(error);
    }
    for (const CallRecord& call : allCalls) {
        RemoteRecords implied = RemoteRecordCheck::impliedByTranscript(call.outcome.commands, !options.destination.empty());
        const RemoteRecords& found = journaled[call.uniqueId];
        impliedLogger += implied.loggerCount();
        impliedEvents += implied.eventCount();
        journaledLogger += found.loggerCount();
        journaledEvents += found.eventCount();
        std::vector<std::string> differences = RemoteRecordCheck::compare(implied, found);
        if (!differences.empty()) {
            ++callsDiffering;
            problems.push_back("call " + call.uniqueId + ": " + differences.front());
        }
    }
    sim.stop();

    double startRatio = median(ivrStart) / median(floorStart);
    double cpuRatio = median(ivrCpu) / median(floorCpu);
    double rssRatio = median(ivrRss) / median(floorRss);
    double connectionsPerCall = median(connections);

    std::cout << "ivr-orvel benchmark: " << describeMachine() << "; load average " << loadBefore << " at start, "
              << loadAverage() << " at end\n";
    std::cout << "single calls: median of " << ivrWall.size() << " runs each, ivr-orvel and bench-floor interleaved;"
              << " concurrency: median of " << options.rounds << " rounds\n\n";
    TextTable table({"measure", "ivr-orvel", "floor", "ratio", "target", "verdict"});
    table.add({"start-up to first AGI command (ms)", fixed(median(ivrStart), 2), fixed(median(floorStart), 2),
               fixed(startRatio, 2), "<= 1.2 x floor", verdict(!ivrStart.empty(), startRatio <= 1.2)});
    table.add({"whole call: wall time (ms)", fixed(median(ivrWall), 2), fixed(median(floorWall), 2),
               fixed(median(ivrWall) / median(floorWall), 2), "-", "-"});
    // Left-behind processes included: what finishes the records after the
    // hand-back is part of the call's cost.
    table.add({"whole call: CPU user+sys (ms)", fixed(median(ivrCpu), 2), fixed(median(floorCpu), 2),
               fixed(cpuRatio, 2), "<= 1.4 x floor", verdict(!ivrCpu.empty(), cpuRatio <= 1.4)});
    table.add({"whole call: peak RSS (MiB)", fixed(median(ivrRss), 2), fixed(median(floorRss), 2),
               fixed(rssRatio, 2), "<= 1.2 x floor", verdict(!ivrRss.empty(), rssRatio <= 1.2)});
    // Two on the caller's path (its own requests, those started early), one
    // for the records sent beside the call.
    table.add({"back-office connections per call", fixed(connectionsPerCall, 0), "-", "-", "<= 3",
               verdict(!connections.empty(), connectionsPerCall <= 3)});
    table.add({"back-office requests per call", fixed(median(requests), 0), "-", "-", "-", "-"});
    const double throughputRatio = median(callsPerSecond) / median(inlineCallsPerSecond);
    table.add({std::to_string(options.calls) + " calls at once: calls/s", fixed(median(callsPerSecond), 1), "-", "-",
               "-", "-"});
    table.add({"  the same, records in line: calls/s", fixed(median(inlineCallsPerSecond), 1), "-",
               fixed(throughputRatio, 2), ">= 0.9 x in line",
               verdict(!inlineCallsPerSecond.empty(), throughputRatio >= 0.9)});
    table.add({"  CPU per call, left-behind included (ms)", fixed(median(batchCpu), 2), "-", "-", "-", "-"});
    table.add({std::to_string(options.calls) + " calls at once: slowest call (ms)", fixed(median(slowest), 1), "-",
               "-", "-", "max " + fixed(slowestEver, 1)});
    table.add({"concurrent calls at their destination", std::to_string(concurrentGood) + "/" +
               std::to_string(concurrentTotal), "-", "-", "all", verdict(concurrentTotal > 0, concurrentGood == concurrentTotal)});
    table.add({"remote log entries journaled/sent", std::to_string(journaledLogger) + "/" + std::to_string(impliedLogger),
               "-", "-", "none lost", verdict(impliedLogger + impliedEvents > 0, callsDiffering == 0)});
    table.add({"events journaled/sent", std::to_string(journaledEvents) + "/" + std::to_string(impliedEvents), "-",
               "-", "none lost", verdict(impliedLogger + impliedEvents > 0, callsDiffering == 0)});
    std::cout << table.render();

    struct rusage self {};
    getrusage(RUSAGE_SELF, &self);
    double driverCpuMs = self.ru_utime.tv_sec * 1000.0 + self.ru_utime.tv_usec / 1000.0 +
                         self.ru_stime.tv_sec * 1000.0 + self.ru_stime.tv_usec / 1000.0;
    std::vector<double> concurrentCpu;
    for (const CallRecord& call : allCalls) {
        if (call.outcome.exited) {
            concurrentCpu.push_back(call.outcome.cpuMs);
        }
    }
    std::cout << "\nper call, over all " << allCalls.size() << " calls: ivr-orvel CPU " << fixed(median(concurrentCpu), 1)
              << " ms (median; concurrent calls without what they left behind), simulator CPU " << fixed(sim.cpuMs() / allCalls.size(), 1) << " ms, driver CPU "
              << fixed(driverCpuMs / allCalls.size(), 1) << " ms (means; the driver also runs the floor)\n";
    std::cout << "driver peak RSS " << fixed(self.ru_maxrss / 1024.0, 1)
              << " MiB (a child spawned with posix_spawn counts the parent's peak RSS if it is higher than its own)\n";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);  // a call that ends early closes its input
    // What a call leaves behind after its hand-back becomes ours, so that its
    // CPU is counted and a batch ends when it has ended.
    if (!LeftBehind::adopt()) {
        std::cerr << "ivr_bench: cannot become a child subreaper\n";
        return 1;
    }
    std::string loadBefore = loadAverage();
    bool ownWork = options.work.empty();
    if (ownWork) {
        char pattern[] = "/tmp/ivr-bench.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::cerr << "ivr_bench: cannot create a work directory\n";
            return 1;
        }
        options.work = pattern;
    }
    std::error_code created;
    std::filesystem::create_directories(options.work, created);
    std::string errorLog = options.work + "/stderr.log";
    int errorFd = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::vector<std::string> problems;
    if (options.only != "caller-wait") {
        runMainTable(options, errorFd, loadBefore, problems);
    }
    if (options.only != "main") {
        CallerWaitSettings wait;
        wait.ivr = options.ivr;
        wait.sim = options.sim;
        wait.config = options.config;
        wait.data = options.data;
        wait.work = options.work;
        wait.callerId = options.callerId;
        wait.destination = options.destination;
        wait.expectedGoto = options.expectedGoto;
        wait.script = options.script;
        wait.errorFd = errorFd;
        wait.runs = options.waitRuns;
        CallerWaitBench(wait).run(std::cout, problems);
    }
    if (options.only == "caller-wait") {
        std::cout << "\n" << describeMachine() << "; load average " << loadBefore << " at start, " << loadAverage()
                  << " at end\n";
    }

    if (!problems.empty()) {
        std::cout << "\n" << problems.size() << " problem(s):\n";
        for (std::size_t index = 0; index < problems.size() && index < 20; ++index) {
            std::cout << "  " << problems[index] << "\n";
        }
        std::cout << "work files kept in " << options.work << "\n";
        return 1;
    }
    ::close(errorFd);
    if (ownWork) {
        std::error_code ignored;
        std::filesystem::remove_all(options.work, ignored);
    }
    return 0;
}
