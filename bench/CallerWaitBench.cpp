#include "bench/CallerWaitBench.h"

#include "bench/BackOfficeSim.h"
#include "bench/BenchReport.h"
#include "bench/RecordDelivery.h"
#include "bench/RefusingPort.h"
#include "bench/TimedAgiCall.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include <json/json.h>

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

const std::chrono::milliseconds kPromptLength{500};
const std::chrono::milliseconds kAnsweringDeadline{30000};
// A back office that never answers costs in-line sending httpTimeout per request.
const std::chrono::milliseconds kOutageDeadline{120000};
// No further run of a cell once its runs took this long (a call against a
// back office that never answers takes about 50 s today).
const std::chrono::seconds kCellBudget{25};
const std::chrono::seconds kDeliveryWait{15};
// Lets a call started beside the measured ones get past its own start-up.
const std::chrono::milliseconds kSettle{300};
enum class Office { AtOnce, Late, Never, Refusing };

struct OfficeInfo {
    Office office;
    const char* name;   // file names
    const char* label;  // the table
    double firstAudioTarget;  // ms, 0: none
    double deadAirTarget;     // ms, 0: none
    int lateMs;               // Late: how late every answer is
};

// Late back offices: dead air at most three round trips and 100 ms.
const OfficeInfo kOffices[] = {
    {Office::AtOnce, "at-once", "answering at once", 0, 0, 0},
    {Office::Late, "late", "answering 100 ms late", 50, 400, 100},
    {Office::Late, "late-300", "answering 300 ms late", 50, 1000, 300},
    {Office::Never, "never", "never answering", 50, 2500, 0},
    {Office::Refusing, "refusing", "refusing connections", 0, 0, 0},
};
const double kHandBackTarget = 10;

bool isOutage(Office office) { return office == Office::Never || office == Office::Refusing; }

// One back office with records in the background (mode 0) or in line (1).
struct Cell {
    std::vector<double> firstAudio, deadAir, handBack, wall;
    std::vector<std::pair<std::string, std::vector<std::string>>> calls;  // unique id, transcript
    RecordDelivery records;
    Clock::duration spent{};
};

struct OfficeResult {
    OfficeInfo info;
    Cell cells[2];
};

const char* const kModeNames[2] = {"background", "inline"};

bool readConfig(const std::string& path, Json::Value& config) {
    std::ifstream in(path);
    Json::CharReaderBuilder reader;
    std::string error;
    return in && Json::parseFromStream(reader, in, &config, &error) && config.isObject();
}

bool writeConfig(Json::Value config, const std::string& path, int port, bool background, const std::string& spool,
                 const std::string& debug) {
    config["kestro"] = "http://127.0.0.1:" + std::to_string(port);
    config["debug"] = debug;
    // The calls' numbers beside their debug file, never the host's.
    config["metricsFile"] = debug.substr(0, debug.rfind('/') + 1) + "ivr-orvel.prom";
    config["backgroundRecords"] = background;
    if (!spool.empty()) {
        config["spoolDirectory"] = spool;
    }
    std::ofstream out(path);
    Json::StreamWriterBuilder writer;
    out << Json::writeString(writer, config) << "\n";
    return static_cast<bool>(out);
}

std::string lastGoto(const std::vector<std::string>& commands) {
    std::string last;
    for (const std::string& command : commands) {
        if (command.compare(0, 10, "EXEC Goto ") == 0) {
            last = command;
        }
    }
    return last;
}

std::string medianText(const std::vector<double>& values, int decimals) {
    return values.empty() ? "-" : fixed(median(values), decimals);
}

std::string verdict(const std::vector<double>& values, double target) {
    if (target <= 0) {
        return "-";
    }
    if (values.empty()) {
        return "no data";
    }
    return median(values) <= target ? "met" : "MISSED";
}

std::string deliveryText(const Cell& cell, bool outage) {
    if (cell.records.empty()) {
        return "-";
    }
    const DeliveryCount& count = cell.records.count();
    std::string text = std::to_string(count.delivered) + "/" + std::to_string(count.expected);
    if (outage) {
        text += " of " + std::to_string(count.calls) + " call(s)";
    }
    return text + ", " + std::to_string(count.twice) + " twice";
}

std::string deliveryVerdict(const Cell& cell) {
    if (cell.records.empty() || cell.records.count().expected == 0) {
        return "no data";
    }
    const DeliveryCount& count = cell.records.count();
    return count.delivered == count.expected && count.twice == 0 ? "met" : "MISSED";
}

}  // namespace

bool CallerWaitBench::run(std::ostream& out, std::vector<std::string>& problems) {
    std::size_t problemsBefore = problems.size();
    Json::Value base;
    if (!readConfig(settings_.config, base)) {
        problems.push_back("caller wait: cannot read " + settings_.config);
        return false;
    }
    std::string token = base["token"].asString();
    std::string dir = settings_.work + "/caller-wait";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    std::string debug = dir + "/ivr-debug.log";

    TimedAgiCall caller(settings_.script, settings_.errorFd, kPromptLength);
    int sequence = 0;
    auto plan = [&](const std::string& configPath, std::string& uniqueId) {
        ++sequence;
        uniqueId = "1796778000." + std::to_string(sequence);
        return CallPlan::sampleCall(settings_.ivr, settings_.destination, configPath, settings_.callerId, uniqueId,
                                    200000 + sequence);
    };
    auto finished = [&](const CallerWait& wait, const std::string& uniqueId) {
        if (!wait.exited) {
            problems.push_back("caller wait: call " + uniqueId + ": " +
                               (wait.error.empty() ? std::string("did not finish") : wait.error));
        }
    };
    auto call = [&](const std::string& configPath, std::chrono::milliseconds deadline, std::string& uniqueId) {
        CallerWait wait = caller.run(plan(configPath, uniqueId), deadline);
        finished(wait, uniqueId);
        return wait;
    };
    auto measure = [](Cell& cell, const CallerWait& wait, const std::string& uniqueId) {
        if (wait.exited && wait.firstAudioMs >= 0) {
            cell.firstAudio.push_back(wait.firstAudioMs);
            cell.deadAir.push_back(wait.deadAirMs);
            cell.handBack.push_back(wait.handBackMs);
            cell.wall.push_back(wait.wallMs);
        }
        cell.calls.emplace_back(uniqueId, wait.commands);
    };
    auto reachedDestination = [&](const CallerWait& wait, const std::string& uniqueId) {
        if (wait.exited && (wait.exitStatus != 0 || lastGoto(wait.commands) != settings_.expectedGoto)) {
            problems.push_back("caller wait: call " + uniqueId + ": exit status " + std::to_string(wait.exitStatus) +
                               ", last Goto \"" + lastGoto(wait.commands) + "\"");
        }
    };
    auto startSim = [&](std::vector<std::string> options) {
        auto sim = std::make_unique<BackOfficeSim>();
        std::string error;
        if (!sim->start(settings_.sim, options, settings_.errorFd, error)) {
            problems.push_back("caller wait: " + error);
            return std::unique_ptr<BackOfficeSim>();
        }
        return sim;
    };
    auto answeringOptions = [&](const std::string& journal) {
        return std::vector<std::string>{"--data", settings_.data, "--token", token, "--journal", journal,
                                        "--recall-window", "0"};
    };

    // Simulators that answer stay up to the end: records sent after a
    // call's hand-back still reach their journals.
    std::vector<std::unique_ptr<BackOfficeSim>> answering;
    std::vector<OfficeResult> results;
    RemoteRecords reference;  // what one in-line call leaves with a back office answering at once

    for (const OfficeInfo& info : kOffices) {
        std::cerr << "ivr_bench: caller wait, back office " << info.label;
        OfficeResult result{info, {}};
        bool outage = isOutage(info.office);
        std::string journal = dir + "/journal-" + info.name + ".jsonl";
        std::unique_ptr<BackOfficeSim> sim;
        std::unique_ptr<RefusingPort> refusing;
        int port = 0;
        if (info.office == Office::Refusing) {
            refusing = std::make_unique<RefusingPort>();
            port = refusing->port();
        } else {
            std::vector<std::string> options = answeringOptions(journal);
            if (info.office == Office::Late) {
                options.insert(options.end(), {"--delay-ms", std::to_string(info.lateMs)});
            } else if (info.office == Office::Never) {
                options = {"--silent"};
            }
            sim = startSim(options);
            port = sim ? sim->port() : 0;
        }
        if (port <= 0) {
            std::cerr << ": no back office\n";
            continue;
        }
        std::string configs[2], spools[2];
        for (int mode = 0; mode < 2; ++mode) {
            configs[mode] = dir + "/" + info.name + "-" + kModeNames[mode] + ".json";
            spools[mode] = outage ? dir + "/spool-" + info.name + "-" + kModeNames[mode] : std::string();
            writeConfig(base, configs[mode], port, mode == 0, spools[mode], debug);
        }

        // Against a back office that never answers, a program that sends in
        // line and does not give up waits out httpTimeout on request after
        // request (about 50 s a call): that call runs once, beside the
        // background runs, which it hardly disturbs while it waits.
        bool inLineBeside = info.office == Office::Never;
        std::string besideId;
        CallerWait besideWait;
        std::thread beside;
        if (inLineBeside) {
            CallPlan besidePlan = plan(configs[1], besideId);
            beside = std::thread(
                [&caller, &besideWait, besidePlan] { besideWait = caller.run(besidePlan, kOutageDeadline); });
            std::this_thread::sleep_for(kSettle);
        }

        // Runs interleaved, so that drift hits both modes.
        for (int run = 0; run < settings_.runs; ++run) {
            for (int mode = 0; mode < 2; ++mode) {
                Cell& cell = result.cells[mode];
                if ((mode == 1 && inLineBeside) || (run > 0 && cell.spent >= kCellBudget)) {
                    continue;
                }
                std::string uniqueId;
                Clock::time_point started = Clock::now();
                CallerWait wait = call(configs[mode], outage ? kOutageDeadline : kAnsweringDeadline, uniqueId);
                cell.spent += Clock::now() - started;
                if (!outage) {
                    reachedDestination(wait, uniqueId);
                }
                measure(cell, wait, uniqueId);
                std::cerr << "." << std::flush;
            }
        }
        if (beside.joinable()) {
            beside.join();
            finished(besideWait, besideId);
            measure(result.cells[1], besideWait, besideId);
            std::cerr << "." << std::flush;
        }

        std::string recordsJournal = journal;
        if (outage) {
            // The outage ends: the same back office (records reach no other)
            // answers again on the same port, and one more call per mode, on
            // the outage calls' spool, forwards what they kept.
            sim.reset();
            refusing.reset();
            recordsJournal = dir + "/journal-" + info.name + "-after.jsonl";
            std::vector<std::string> again = answeringOptions(recordsJournal);
            again.insert(again.end(), {"--port", std::to_string(port)});
            sim = startSim(again);
            for (int mode = 0; sim && mode < 2; ++mode) {
                std::string config = dir + "/" + info.name + "-after-" + kModeNames[mode] + ".json";
                writeConfig(base, config, port, mode == 0, spools[mode], debug);
                std::string uniqueId;
                reachedDestination(call(config, kAnsweringDeadline, uniqueId), uniqueId);
                std::cerr << "." << std::flush;
            }
        } else if (info.office == Office::AtOnce && !result.cells[1].calls.empty()) {
            std::map<std::string, RemoteRecords> journaled;
            std::string error;
            RemoteRecordCheck::readJournal(journal, journaled, error);
            reference = journaled[result.cells[1].calls.front().first];
        }
        for (Cell& cell : result.cells) {
            cell.records = RecordDelivery(recordsJournal);
            for (const auto& made : cell.calls) {
                // An outage call takes another path; its transcript says which records it made.
                cell.records.expect(made.first,
                                    outage ? RemoteRecordCheck::impliedByTranscript(made.second, true) : reference);
            }
        }
        if (sim) {
            answering.push_back(std::move(sim));
        }
        results.push_back(std::move(result));
        std::cerr << "\n";
    }

    // Records sent after the hand-back (or forwarded from the spool) may
    // still be on their way: wait for them, all cells at once, bounded.
    Clock::time_point giveUpAt = Clock::now() + kDeliveryWait;
    for (;;) {
        bool complete = true;
        for (OfficeResult& result : results) {
            for (Cell& cell : result.cells) {
                complete = cell.records.check() && complete;
            }
        }
        if (complete || Clock::now() >= giveUpAt) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    answering.clear();

    out << "\ncaller wait: the sample call, every prompt taking " << kPromptLength.count()
        << " ms; median of up to " << settings_.runs << " runs per cell (runs below);"
        << " targets and verdicts for records in the background\n\n";
    TextTable table({"back office", "measure", "in background", "in line", "target", "verdict"});
    for (const OfficeResult& result : results) {
        const Cell& background = result.cells[0];
        const Cell& inLine = result.cells[1];
        auto targetText = [](double target) { return target > 0 ? "<= " + fixed(target, 0) : std::string("-"); };
        table.add({result.info.label, "first audio (ms)", medianText(background.firstAudio, 1),
                   medianText(inLine.firstAudio, 1), targetText(result.info.firstAudioTarget),
                   verdict(background.firstAudio, result.info.firstAudioTarget)});
        table.add({"", "dead air (ms)", medianText(background.deadAir, 1), medianText(inLine.deadAir, 1),
                   targetText(result.info.deadAirTarget), verdict(background.deadAir, result.info.deadAirTarget)});
        table.add({"", "hand-back (ms)", medianText(background.handBack, 1), medianText(inLine.handBack, 1),
                   targetText(kHandBackTarget), verdict(background.handBack, kHandBackTarget)});
        table.add({"", "whole call (ms)", medianText(background.wall, 0), medianText(inLine.wall, 0), "-", "-"});
        bool outage = isOutage(result.info.office);
        table.add({"", outage ? "records of the outage calls, after it" : "records delivered",
                   deliveryText(background, outage), deliveryText(inLine, outage), "all, none twice",
                   deliveryVerdict(background)});
        table.add({"", "runs", std::to_string(background.calls.size()), std::to_string(inLine.calls.size()), "-",
                   "-"});
    }
    out << table.render();
    out << "first audio: start-up block written to the first audio command; dead air: the sum, over every reply,"
           " of reply written to the next command;\nhand-back: last reply written to the program's exit; records:"
           " remote log entries and events journaled / expected, waited for up to "
        << kDeliveryWait.count() << " s\n";
    return problems.size() == problemsBefore;
}

}  // namespace tarvik
