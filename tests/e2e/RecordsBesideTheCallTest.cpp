// Whole calls of ivr-orvel whose remote log entries travel beside the call:
// a back office that never answers, an outage and its recovery through the
// spool, --flush-spool, calls sharing one spool, a caller hanging up with
// records pending, the caller handed back before the records are finished,
// and the process that finishes them killed.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/e2e/SpoolFiles.h"
#include "tests/support/SpoolContents.h"
#include "tests/support/IvrCall.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

using namespace faults;

const std::string kCustomer = "11987654321";  // CL-5001: connected, one open invoice
const std::string kDocument = "52998224725";  // its CPF
const std::vector<std::string> kNotReadyLog = {"authenticated", "trace", "forward"};

std::string jsonString(const std::string& text) { return Json::valueToQuotedString(text.c_str()); }

// Records of a spool that are waiting or claimed (not those aside).
std::vector<SpooledRow> spoolFiles(const std::string& directory) { return waitingRows(directory); }

// The record bodies waiting in a spool, oldest first.
std::vector<std::string> spooledBodies(const std::string& directory) {
    std::vector<std::string> bodies;
    for (const SpooledRow& row : waitingRows(directory)) bodies.push_back(row.body);
    return bodies;
}

// Writes `count` remote log entries of `office`'s back office into a spool
// as an earlier call would have left them ("eventType": "earlier", "seq": N),
// older than any record a call writes now.
void fillSpool(const std::string& directory, const IvrBackOffice& office, int count) {
    for (int seq = 0; seq < count; ++seq) {
        Json::Value body(Json::objectValue);
        body["eventType"] = "earlier";
        body["seq"] = seq;
        Json::StreamWriterBuilder writer;
        writer["indentation"] = "";
        std::string number = std::to_string(seq);
        number.insert(0, 6 - number.size(), '0');
        writeSpooledLogEntry(directory, exampleOffice(office.baseUrl()), "1000000000000000000-1-" + number,
                             Json::writeString(writer, body));
    }
}

// How many times each "earlier" entry reached the back office, by seq.
std::map<int, int> earlierDeliveries(const std::vector<JournalEntry>& journal) {
    std::map<int, int> deliveries;
    for (const JournalEntry& entry : journal) {
        if (entry.operation == "logger" && entry.body["eventType"].asString() == "earlier") {
            ++deliveries[entry.body["seq"].asInt()];
        }
    }
    return deliveries;
}

SimRun flushSpool(const std::string& config) {
    return runProgramToEnd(orvelProgram(), {"--flush-spool", config}, 60000);
}

std::string flushLine(const std::string& spool, int delivered, int aside, int kept) {
    return "spool " + spool + ": " + std::to_string(delivered) + " delivered, " + std::to_string(aside) +
           " set aside, " + std::to_string(kept) + " kept for later\n";
}

// A call of the known customer that finds no back office: it ends at the
// fallback after the caller typed the document.
IvrCall fallbackCall(const std::string& config, const std::string& uniqueId) {
    IvrCall call;
    call.arguments = {"atendimento", config};
    call.callerId = kCustomer;
    call.uniqueId = uniqueId;
    call.answersByPrompt["Orvel-u4-04"] = kDocument;
    call.deadline = std::chrono::milliseconds(60000);
    return call;
}

TEST(RecordsBesideTheCall, ABackOfficeThatNeverAnswersCostsTheCallOneTimeLimit) {
    IvrBackOffice office({"--silent"});
    ASSERT_GT(office.port(), 0);
    IvrCall call = fallbackCall(office.writeConfig(R"({"httpTimeout": 10})"), "1796777065.3");
    // Waiting out the time limit on every exchange took about 50 s; the
    // call now stops waiting after the first.
    call.deadline = std::chrono::milliseconds(20000);
    IvrCallResult result = runIvrCall(office, call);

    EXPECT_FALSE(result.child.timedOut);
    EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
    EXPECT_EQ(result.lastGoto(), gotoExit("50003")) << transcript(result);
    expectOnlyProgramCommands(result.commands());
    EXPECT_EQ(office.spooledLogTypes(), kNotReadyLog);
    // The spool never holds the token; each record names its back office.
    const std::string address = exampleOffice(office.baseUrl()).address();
    for (const SpooledRow& row : spoolFiles(office.spoolPath())) {
        EXPECT_EQ(row.record.find("change-me"), std::string::npos) << row.record;
        EXPECT_EQ(row.address, address) << row.record;
    }
}

// A back office and one spool shared by two configurations of it: "down"
// still has the token the back office stopped taking (every answer is 401,
// as during a token rotation), "up" the one it takes.
class RecordsAfterAnOutage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(office.port(), 0); }

    // What the back office took (answered 200), in order.
    std::vector<JournalEntry> taken() const {
        std::vector<JournalEntry> entries;
        for (const JournalEntry& entry : office.journal()) {
            if (entry.status == 200) entries.push_back(entry);
        }
        return entries;
    }

    IvrBackOffice office{{"--recall-window", "0"}};
    TempDir shared;
    const std::string spool = shared.file("spool");
    const std::string down = office.writeConfig(
        "{\"token\": \"rotated-away\", \"spoolDirectory\": " + jsonString(spool) + "}", "down.json");
    const std::string up = office.writeConfig("{\"spoolDirectory\": " + jsonString(spool) + "}", "up.json");
};

TEST_F(RecordsAfterAnOutage, ReachTheBackOfficeWithTheNextCall) {
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE("outage call " + std::to_string(index));
        IvrCallResult result = runIvrCall(office, fallbackCall(down, "1796777065.1" + std::to_string(index)));
        EXPECT_EQ(result.exitStatus(), 0);
        EXPECT_EQ(result.lastGoto(), gotoExit("50003")) << transcript(result);
    }
    EXPECT_TRUE(taken().empty());
    const std::vector<std::string> outage = spooledBodies(spool);
    std::size_t outageLogEntries = 0;
    for (const std::string& body : outage) {
        if (body.find("\"eventType\"") != std::string::npos) ++outageLogEntries;
    }
    EXPECT_EQ(outageLogEntries, 3 * kNotReadyLog.size());
    ASSERT_EQ(std::set<std::string>(outage.begin(), outage.end()).size(), outage.size());

    // The back office is back: the next call delivers the outage's records.
    IvrCall next;
    next.arguments = {"atendimento", up};
    next.callerId = kCustomer;
    next.answersByPrompt["Orvel-u4-33"] = "1";
    next.deadline = std::chrono::milliseconds(60000);
    IvrCallResult result = runIvrCall(office, next);
    EXPECT_EQ(result.exitStatus(), 0);
    EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);

    const std::vector<JournalEntry> journal = taken();
    for (const std::string& body : outage) {
        std::size_t times = 0;
        for (const JournalEntry& entry : journal) {
            if (entry.bodyText == body) ++times;
        }
        EXPECT_EQ(times, 1u) << body;
    }
    std::map<std::string, int> sent;
    for (const JournalEntry& entry : journal) {
        if (entry.method == "GET") continue;
        EXPECT_EQ(++sent[entry.operation + " " + entry.bodyText], 1) << "sent twice: " << entry.bodyText;
        EXPECT_EQ(entry.headers.count("PreAuthorization"), 1u);
    }
    EXPECT_TRUE(spoolFiles(spool).empty());
    EXPECT_TRUE(asideRows(spool).empty());
}

TEST_F(RecordsAfterAnOutage, AreDeliveredByFlushSpool) {
    for (int index = 0; index < 2; ++index) {
        IvrCallResult result = runIvrCall(office, fallbackCall(down, "1796777065.2" + std::to_string(index)));
        EXPECT_EQ(result.lastGoto(), gotoExit("50003")) << transcript(result);
    }
    const std::vector<std::string> outage = spooledBodies(spool);
    ASSERT_GE(outage.size(), 2 * kNotReadyLog.size());
    const int waiting = static_cast<int>(outage.size());

    // Still down: nothing delivered, everything kept, and the exit says so.
    SimRun stillDown = flushSpool(down);
    EXPECT_EQ(stillDown.exitStatus, 1) << stillDown.output << stillDown.errors;
    EXPECT_EQ(stillDown.output, flushLine(spool, 0, 0, waiting));
    EXPECT_EQ(spooledBodies(spool), outage);

    SimRun flushed = flushSpool(up);
    EXPECT_EQ(flushed.exitStatus, 0) << flushed.output << flushed.errors;
    EXPECT_EQ(flushed.output, flushLine(spool, waiting, 0, 0));
    EXPECT_TRUE(spoolFiles(spool).empty());
    std::vector<std::string> delivered;
    for (const JournalEntry& entry : taken()) {
        if (entry.method == "GET") continue;
        delivered.push_back(entry.bodyText);
        EXPECT_EQ(entry.headers.count("PreAuthorization"), 1u);
    }
    // Oldest first, each once.
    EXPECT_EQ(delivered, outage);

    SimRun again = flushSpool(up);
    EXPECT_EQ(again.exitStatus, 0) << again.output << again.errors;
    EXPECT_EQ(again.output, flushLine(spool, 0, 0, 0));
    EXPECT_EQ(taken().size(), outage.size());
}

TEST(RecordsBesideTheCall, CallsSharingOneSpoolDeliverEachRecordOnce) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    TempDir shared;
    const std::string spool = shared.file("spool");
    const int earlier = 150;  // more than one call takes, fewer than four do
    fillSpool(spool, office, earlier);
    const std::string config = office.writeConfig("{\"spoolDirectory\": " + jsonString(spool) + "}");

    std::vector<IvrCallResult> results(4);
    std::vector<std::thread> calls;
    for (std::size_t index = 0; index < results.size(); ++index) {
        calls.emplace_back([&, index] {
            IvrCall call;
            call.arguments = {"atendimento", config};
            call.callerId = kCustomer;
            call.uniqueId = "1796777065.4" + std::to_string(index);
            call.answersByPrompt["Orvel-u4-33"] = "1";
            call.deadline = std::chrono::milliseconds(90000);
            results[index] = runIvrCall(office, call);
        });
    }
    for (std::thread& call : calls) call.join();
    for (const IvrCallResult& result : results) {
        EXPECT_EQ(result.exitStatus(), 0);
        EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);
    }

    const std::map<int, int> deliveries = earlierDeliveries(office.journal());
    EXPECT_EQ(deliveries.size(), static_cast<std::size_t>(earlier));
    for (const auto& [seq, times] : deliveries) EXPECT_EQ(times, 1) << "record " << seq;
    EXPECT_TRUE(spoolFiles(spool).empty());
}

std::size_t commandNumber(const std::vector<std::string>& commands, const std::string& prefix) {
    for (std::size_t index = 0; index < commands.size(); ++index) {
        if (startsWith(commands[index], prefix)) return index + 1;
    }
    return 0;
}

TEST(RecordsBesideTheCall, ACallerHangingUpLeavesNoRemoteLogEntryBehind) {
    IvrCall call;
    call.callerId = kCustomer;
    std::size_t at = 0;
    {
        IvrBackOffice quick({"--recall-window", "0"});
        ASSERT_GT(quick.port(), 0);
        call.arguments = {"atendimento", quick.writeConfig()};
        IvrCallResult undisturbed = runIvrCall(quick, call);
        at = commandNumber(undisturbed.commands(), "GET DATA /etc/tarvik/kestro/audios/Orvel-u4-33");
        ASSERT_NE(at, 0u) << transcript(undisturbed);
    }

    IvrBackOffice late({"--recall-window", "0", "--delay-ms", "1000"});
    ASSERT_GT(late.port(), 0);
    // The readiness check waits well beyond the delay: the call is served.
    call.arguments = {"atendimento", late.writeConfig(R"({"readyTimeout": 10})")};
    call.deadline = std::chrono::milliseconds(60000);
    call.preparePeer = [at](ScriptedAsteriskPeer& peer) {
        peer.hangUpAtCommand(at, ScriptedAsteriskPeer::HangupStyle::ExitOnHangup);
        peer.signalChildAtHangup(SIGHUP);
    };
    IvrCallResult result = runIvrCall(late, call);
    EXPECT_FALSE(result.child.timedOut);
    EXPECT_EQ(result.exitStatus(), 0) << transcript(result);

    const std::vector<std::string> types = remoteLogTypes(result);
    ASSERT_GE(types.size(), 3u) << transcript(result);
    EXPECT_EQ(types.front(), "authenticated");
    EXPECT_EQ(types.back(), "forward");
    EXPECT_EQ(std::set<std::string>(types.begin(), types.end()).size(), types.size());
    EXPECT_FALSE(forwardedKey(result).empty());
    EXPECT_TRUE(late.spooledRecords().empty());
}

// A back office answering 1.5 s late, with earlier records waiting: the
// background sender has far more to do than the call, so it is still at work
// when the call ends.
struct LateBackOffice {
    IvrBackOffice office{{"--recall-window", "0", "--delay-ms", "1500"}};
    TempDir scratch;
    std::string spool = scratch.file("spool");
    std::string config;
    int earlier;

    explicit LateBackOffice(int earlierRecords) : earlier(earlierRecords) {
        fillSpool(spool, office, earlier);
        // The readiness check waits well beyond the back office's delay, so
        // a busy machine cannot turn the late answer into no answer.
        config = office.writeConfig("{\"spoolDirectory\": " + jsonString(spool) +
                                    ", \"pendingTimeout\": 40, \"readyTimeout\": 10}");
    }

    IvrCall call(const std::string& program) const {
        IvrCall made;
        made.program = program;
        made.arguments = {"atendimento", config};
        made.callerId = kCustomer;
        made.answersByPrompt["Orvel-u4-33"] = "1";
        made.deadline = std::chrono::milliseconds(100000);
        return made;
    }
};

TEST(RecordsBesideTheCall, TheCallerIsHandedBackBeforeTheRecordsAreFinished) {
    LateBackOffice late(8);
    ASSERT_GT(late.office.port(), 0);
    // Between the program and the peer, a shell notes how many requests the
    // back office had seen when the started process ended.
    const std::string atExit = late.scratch.file("journal-lines-at-exit");
    const std::string wrapper = late.scratch.write(
        "wrapper.sh",
        "#!/bin/sh\n"
        "\"$HANDBACK_PROGRAM\" \"$@\"\n"
        "status=$?\n"
        "wc -l < \"$HANDBACK_JOURNAL\" > \"$HANDBACK_OUT\"\n"
        "exit $status\n");
    ASSERT_EQ(::chmod(wrapper.c_str(), 0755), 0);
    IvrCall call = late.call(wrapper);
    call.environment = {{"HANDBACK_PROGRAM", orvelProgram()},
                        {"HANDBACK_JOURNAL", late.office.journalPath()},
                        {"HANDBACK_OUT", atExit}};
    IvrCallResult result = runIvrCall(late.office, call);
    EXPECT_FALSE(result.child.timedOut);
    EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
    EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);

    const std::string counted = TempDir::readFile(atExit);
    ASSERT_FALSE(counted.empty());
    const std::size_t linesAtExit = std::stoul(counted);
    const std::vector<JournalEntry> journal = late.office.journal();
    std::size_t lastLogEntry = 0;
    bool forwardSeen = false;
    for (std::size_t index = 0; index < journal.size(); ++index) {
        if (journal[index].operation != "logger") continue;
        lastLogEntry = index;
        if (journal[index].body["eventType"].asString() == "forward") forwardSeen = true;
    }
    // The started process ended first; the entries arrived after it.
    EXPECT_GE(lastLogEntry, linesAtExit) << "journal lines when the program ended: " << linesAtExit;
    EXPECT_TRUE(forwardSeen);
    const std::map<int, int> deliveries = earlierDeliveries(journal);
    EXPECT_EQ(deliveries.size(), static_cast<std::size_t>(late.earlier));
    for (const auto& [seq, times] : deliveries) EXPECT_EQ(times, 1) << "record " << seq;
    EXPECT_TRUE(spoolFiles(late.spool).empty());
}

// The process that finishes a call's records after the hand-back: the one
// whose command line names `config` and that leads a session of its own.
// Any process listed may be gone by the time its files are read: those
// read empty and are passed over.
pid_t findDetached(const std::string& config) {
    std::error_code error;
    for (std::filesystem::directory_iterator item("/proc", error), end; !error && item != end;
         item.increment(error)) {
        const std::string name = item->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == ::getpid()) continue;
        std::string commandLine = TempDir::readFile(item->path().string() + "/cmdline");
        if (commandLine.find(config) == std::string::npos) continue;
        const std::string stat = TempDir::readFile(item->path().string() + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        long parent = 0, group = 0, session = 0;
        fields >> state >> parent >> group >> session;
        if (session == pid) return pid;
    }
    return -1;
}

// Runs the late back office's call and sends `signal` to the process that
// finishes its records, `after` once it is seen, then reaps it. The detached
// process becomes ours when the started one ends, so the test reaps it: a
// killed process nobody reaped yet still holds its pid, and its claims are
// given back only once it is gone.
struct SignalledFinisher {
    IvrCallResult result;
    pid_t pid = -1;
    pid_t reaped = 0;
    int status = 0;
};

SignalledFinisher signalTheFinisher(const LateBackOffice& late, int signal, std::chrono::milliseconds after) {
    SignalledFinisher finisher;
    EXPECT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    std::atomic<bool> stop{false};
    std::atomic<pid_t> signalled{-1};
    std::thread watcher([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            const pid_t detached = findDetached(late.config);
            if (detached > 0) {
                std::this_thread::sleep_for(after);
                if (::kill(detached, signal) == 0) signalled = detached;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    finisher.result = runIvrCall(late.office, late.call(orvelProgram()));
    stop = true;
    watcher.join();
    finisher.pid = signalled.load();
    if (finisher.pid > 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((finisher.reaped = ::waitpid(finisher.pid, &finisher.status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    return finisher;
}

TEST(RecordsBesideTheCall, KillingTheProcessWithRecordsPendingLosesNoSpooledRecord) {
    // Twice the earlier records the sender gets through during the call.
    LateBackOffice late(16);
    ASSERT_GT(late.office.port(), 0);
    // Mid-way through a delivery the back office holds 1.5 s.
    const SignalledFinisher finisher = signalTheFinisher(late, SIGKILL, std::chrono::milliseconds(300));
    const IvrCallResult& result = finisher.result;
    const pid_t killed = finisher.pid;
    ASSERT_GT(killed, 0) << "no detached process was seen";
    EXPECT_FALSE(result.child.timedOut);
    EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
    EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);

    // Whatever reached the back office was whole.
    const std::vector<JournalEntry> before = late.office.journal();
    for (const JournalEntry& entry : before) {
        if (entry.method != "GET") {
            EXPECT_TRUE(entry.body.isObject()) << entry.bodyText;
        }
    }
    // The earlier records not yet delivered are all still in the spool
    // (some claimed by the killed process), each whole.
    std::map<int, int> delivered = earlierDeliveries(before);
    const std::vector<std::string> left = spooledBodies(late.spool);
    std::set<int> waiting;
    for (const std::string& body : left) {
        if (body.find("\"earlier\"") == std::string::npos) continue;
        Json::Value parsed;
        Json::CharReaderBuilder reader;
        std::istringstream text(body);
        ASSERT_TRUE(Json::parseFromStream(reader, text, &parsed, nullptr)) << body;
        waiting.insert(parsed["seq"].asInt());
    }
    EXPECT_FALSE(waiting.empty()) << "the process was killed with no earlier record pending";
    const std::string claimedByKilled = ".claimed-" + std::to_string(killed) + "-";
    std::size_t claims = 0;
    for (const SpooledRow& row : spoolFiles(late.spool)) {
        if (row.claimer.compare(0, claimedByKilled.size(), claimedByKilled) == 0) ++claims;
    }
    EXPECT_GT(claims, 0u);
    for (int seq = 0; seq < late.earlier; ++seq) {
        EXPECT_TRUE(delivered.count(seq) != 0 || waiting.count(seq) != 0) << "record " << seq << " lost";
    }

    // The next flush (of the same back office: records reach no other) gives
    // the dead process's claims back and delivers them.
    const std::size_t seenBefore = late.office.journal().size();
    SimRun flushed = flushSpool(late.config);
    EXPECT_EQ(flushed.exitStatus, 0) << flushed.output << flushed.errors;
    EXPECT_TRUE(spoolFiles(late.spool).empty());
    std::vector<JournalEntry> flushJournal = late.office.journal();
    flushJournal.erase(flushJournal.begin(), flushJournal.begin() + static_cast<std::ptrdiff_t>(seenBefore));
    const std::map<int, int> afterwards = earlierDeliveries(flushJournal);
    for (int seq : waiting) EXPECT_EQ(afterwards.count(seq) != 0 ? afterwards.at(seq) : 0, 1) << "record " << seq;
    for (const JournalEntry& entry : flushJournal) EXPECT_TRUE(entry.body.isObject()) << entry.bodyText;
}

}  // namespace
}  // namespace tarvik::testing

namespace tarvik::testing {
namespace {

using namespace faults;

// The AGI commands of a call, without the lines said about records, and
// with the folder of its configuration written as "DIR".
std::vector<std::string> withoutRecordLines(const std::vector<std::string>& commands, const std::string& config) {
    const std::string folder = config.substr(0, config.rfind('/'));
    std::vector<std::string> kept;
    for (std::string command : commands) {
        if (command.find("VERBOSE \"record ") == 0) continue;
        for (std::size_t at = command.find(folder); at != std::string::npos; at = command.find(folder, at)) {
            command.replace(at, folder.size(), "DIR");
        }
        kept.push_back(command);
    }
    return kept;
}

IvrCall invoiceCall(const std::string& config, const std::string& uniqueId) {
    IvrCall call;
    call.arguments = {"atendimento", config};
    call.callerId = kCustomer;
    call.uniqueId = uniqueId;
    call.answersByPrompt["Orvel-u4-33"] = "1";
    call.deadline = std::chrono::milliseconds(60000);
    return call;
}

// Only the remote log is slow, past the time limit: the caller's path makes
// every request and plays every prompt it makes with a quick back office.
TEST(RecordsBesideTheCall, ASlowRemoteLogNeverTouchesTheCallersPath) {
    IvrBackOffice quick({"--recall-window", "0"});
    ASSERT_GT(quick.port(), 0);
    const std::string quickConfig = quick.writeConfig(R"({"httpTimeout": 1})");
    IvrCallResult reference = runIvrCall(quick, invoiceCall(quickConfig, "1796790000.1"));
    ASSERT_EQ(reference.lastGoto(), gotoExit("50011")) << transcript(reference);

    IvrBackOffice slowLog({"--recall-window", "0", "--delay", "logger=3000"});
    ASSERT_GT(slowLog.port(), 0);
    const std::string slowConfig = slowLog.writeConfig(R"({"httpTimeout": 1})");
    IvrCallResult result = runIvrCall(slowLog, invoiceCall(slowConfig, "1796790000.1"));
    EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
    const std::vector<std::string> seen = withoutRecordLines(result.commands(), slowConfig);
    const std::vector<std::string> expected = withoutRecordLines(reference.commands(), quickConfig);
    std::size_t same = 0;
    while (same < seen.size() && same < expected.size() && seen[same] == expected[same]) ++same;
    EXPECT_EQ(same, expected.size()) << "first difference: " << (same < seen.size() ? seen[same] : "(end)")
                                     << " instead of " << (same < expected.size() ? expected[same] : "(end)");
    EXPECT_EQ(seen.size(), expected.size());
    std::vector<std::string> flow;
    std::vector<std::string> referenceFlow;
    for (const JournalEntry& entry : slowLog.journal()) {
        if (entry.operation != "logger") flow.push_back(entry.operation);
    }
    for (const JournalEntry& entry : quick.journal()) {
        if (entry.operation != "logger") referenceFlow.push_back(entry.operation);
    }
    // Requests of the caller's path go side by side where nothing depends
    // on it: the same requests, and the recall search after its registration.
    auto position = [&flow](const char* operation) { return std::find(flow.begin(), flow.end(), operation); };
    EXPECT_LT(position("recall-register"), position("recall-search"));
    std::sort(flow.begin(), flow.end());
    std::sort(referenceFlow.begin(), referenceFlow.end());
    EXPECT_EQ(flow, referenceFlow);
    // The entries that ran out of time wait in the spool, each said once.
    EXPECT_FALSE(slowLog.spooledLogTypes().empty());
}

// Two providers' configurations on one spool: each one's records reach only
// its own back office, whether a call or --flush-spool delivers them.
TEST(RecordsBesideTheCall, ConfigurationsSharingASpoolNeverExchangeRecords) {
    IvrBackOffice first({"--recall-window", "0"});
    IvrBackOffice second({"--recall-window", "0", "--token", "second-token"});
    ASSERT_GT(first.port(), 0);
    ASSERT_GT(second.port(), 0);
    TempDir shared;
    const std::string spool = shared.file("spool");
    const std::string where = "\"spoolDirectory\": " + jsonString(spool);
    const std::string firstDown = first.writeConfig("{\"token\": \"old\", " + where + "}", "first-down.json");
    const std::string firstUp = first.writeConfig("{" + where + "}", "first-up.json");
    const std::string secondDown = second.writeConfig("{\"token\": \"old\", " + where + "}", "second-down.json");
    const std::string secondUp = second.writeConfig("{\"token\": \"second-token\", " + where + "}", "second-up.json");

    // Both are down (their tokens rotated): each call leaves its records.
    runIvrCall(first, fallbackCall(firstDown, "1796791000.1"));
    runIvrCall(second, fallbackCall(secondDown, "1796792000.1"));
    auto spooledOf = [&spool](const std::string& uniqueId) {
        std::size_t count = 0;
        for (const std::string& body : spooledBodies(spool)) count += body.find(uniqueId) != std::string::npos;
        return count;
    };
    const std::size_t firsts = spooledOf("1796791000.1");
    ASSERT_GE(firsts, kNotReadyLog.size());
    ASSERT_GE(spooledOf("1796792000.1"), kNotReadyLog.size());

    auto takenFrom = [](const IvrBackOffice& office) {
        std::vector<JournalEntry> entries;
        for (const JournalEntry& entry : office.journal()) {
            if (entry.status == 200 && entry.method != "GET") entries.push_back(entry);
        }
        return entries;
    };
    // The second is back first: its flush and its call take only its own.
    SimRun flushed = flushSpool(secondUp);
    EXPECT_EQ(flushed.exitStatus, 0) << flushed.output << flushed.errors;
    IvrCallResult secondCall = runIvrCall(second, invoiceCall(secondUp, "1796792000.2"));
    EXPECT_EQ(secondCall.lastGoto(), gotoExit("50011")) << transcript(secondCall);
    for (const JournalEntry& entry : takenFrom(second)) {
        EXPECT_EQ(entry.bodyText.find("1796791000"), std::string::npos) << "the first's record: " << entry.bodyText;
        EXPECT_EQ(entry.headers.count("PreAuthorization"), 1u);
    }
    // The first's records are all still waiting, untouched.
    EXPECT_EQ(spoolFiles(spool).size(), firsts);
    EXPECT_EQ(spooledOf("1796791000.1"), firsts);

    // Then the first: its records, with its token, and the spool is empty.
    flushed = flushSpool(firstUp);
    EXPECT_EQ(flushed.exitStatus, 0) << flushed.output << flushed.errors;
    std::size_t delivered = 0;
    for (const JournalEntry& entry : takenFrom(first)) {
        EXPECT_EQ(entry.bodyText.find("1796792000"), std::string::npos) << "the second's record: " << entry.bodyText;
        if (entry.bodyText.find("1796791000.1") != std::string::npos) ++delivered;
    }
    EXPECT_EQ(delivered, firsts);
    EXPECT_TRUE(spoolFiles(spool).empty());
}

// --flush-spool on a spool that is not there, or cannot be one, fails.
TEST(RecordsBesideTheCall, FlushingAMissingSpoolFails) {
    IvrBackOffice office;
    ASSERT_GT(office.port(), 0);
    TempDir scratch;
    const std::string plain = scratch.write("plain", "x\n");
    for (const std::string& spool : {scratch.file("missing"), plain + "/spool", plain}) {
        SCOPED_TRACE(spool);
        SimRun run = flushSpool(office.writeConfig("{\"spoolDirectory\": " + jsonString(spool) + "}"));
        EXPECT_EQ(run.exitStatus, 1) << run.output << run.errors;
        EXPECT_NE(run.errors.find(spool), std::string::npos) << run.errors;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.file("missing")));
}

// SIGTERM to the process finishing a call's records: every record not yet
// delivered is in the spool (none left claimed) when it has gone.
TEST(RecordsBesideTheCall, StoppingTheFinishingProcessSpoolsWhatIsPending) {
    LateBackOffice late(16);
    ASSERT_GT(late.office.port(), 0);
    const SignalledFinisher finisher = signalTheFinisher(late, SIGTERM, std::chrono::milliseconds(0));
    const IvrCallResult& result = finisher.result;
    const int status = finisher.status;
    ASSERT_GT(finisher.pid, 0) << "no detached process was seen";
    ASSERT_EQ(finisher.reaped, finisher.pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
        << "exited " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ", signal "
        << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);

    // Nothing is claimed any more; everything not delivered is waiting.
    std::set<int> waiting;
    for (const SpooledRow& row : spoolFiles(late.spool)) EXPECT_EQ(row.claimer, "") << row.record;
    for (const std::string& body : spooledBodies(late.spool)) {
        Json::Value parsed;
        Json::CharReaderBuilder reader;
        std::istringstream text(body);
        ASSERT_TRUE(Json::parseFromStream(reader, text, &parsed, nullptr)) << body;
        if (parsed["eventType"].asString() == "earlier") waiting.insert(parsed["seq"].asInt());
    }
    const std::map<int, int> delivered = earlierDeliveries(late.office.journal());
    for (int seq = 0; seq < late.earlier; ++seq) {
        EXPECT_TRUE(delivered.count(seq) != 0 || waiting.count(seq) != 0) << "record " << seq << " lost";
    }
}

}  // namespace
}  // namespace tarvik::testing
