// The sample call on a host out of tasks: thread creation failing from the
// N-th pthread_create on, and the hand-back's fork failing (a preloaded
// shim, tests/shim). The call must end within its bound at its exit, and
// every record the call makes is either delivered or in the spool.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/IvrCall.h"

namespace tarvik::testing {
namespace {

#ifdef IVR_START_FAILURE_SHIM

// Records by kind and what they say ("logger authenticated", "event
// ORVEL_IVR_DOCUMENT"), counted; delivered ones and spooled ones alike.
using RecordCounts = std::map<std::string, int>;

std::string recordKey(const std::string& kind, const Json::Value& body) {
    return kind + " " + (kind == "logger" ? body["eventType"].asString() : body["event"].asString());
}

RecordCounts recordsOf(const IvrBackOffice& office, const IvrCallResult& result) {
    RecordCounts counts;
    for (const JournalEntry& entry : result.journal) {
        if (entry.operation == "logger" || entry.operation == "event") ++counts[recordKey(entry.operation, entry.body)];
    }
    for (const Json::Value& record : office.spooledRecords()) {
        ++counts[recordKey(record["kind"].asString(), record["json"])];
    }
    return counts;
}

struct Outcome {
    IvrCallResult result;
    RecordCounts records;
};

Outcome runSampleCall(const std::vector<std::pair<std::string, std::string>>& failing) {
    IvrBackOffice office({"--recall-window", "0"});
    EXPECT_GT(office.port(), 0);
    IvrCall call;
    call.arguments = {"atendimento", office.writeConfig()};
    call.answersByPrompt["Orvel-u4-33"] = "1";
    call.deadline = std::chrono::milliseconds(20000);
    call.environment = failing;
    call.environment.emplace_back("LD_PRELOAD", IVR_START_FAILURE_SHIM);
    Outcome outcome;
    outcome.result = runIvrCall(office, call);
    outcome.records = recordsOf(office, outcome.result);
    return outcome;
}

std::string transcript(const IvrCallResult& result) {
    std::string text;
    for (const std::string& command : result.commands()) text += "  " + command + "\n";
    return text + "stderr:\n" + result.child.stderrText;
}

TEST(StartFailures, CallEndsAtItsExitWithEveryRecordWhenThreadsOrTheHandBackCannotStart) {
    const Outcome normal = runSampleCall({});
    ASSERT_EQ(normal.result.lastGoto(), "EXEC Goto ivr-exits,50011,1") << transcript(normal.result);
    ASSERT_FALSE(normal.records.empty());

    std::vector<std::pair<std::string, std::string>> faults;
    for (const char* from : {"0", "1", "2", "3"}) faults.emplace_back("IVR_TEST_THREADS_FAIL_FROM", from);
    faults.emplace_back("IVR_TEST_FORKS_FAIL_FROM", "0");
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.first + "=" + fault.second);
        const Outcome failed = runSampleCall({fault});
        const IvrCallResult& result = failed.result;
        EXPECT_FALSE(result.child.timedOut);
        EXPECT_EQ(result.child.terminatingSignal, 0);
        EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
        EXPECT_EQ(result.lastGoto(), normal.result.lastGoto()) << transcript(result);
        EXPECT_EQ(result.commands().back(), normal.result.commands().back());
        // None lost; one cut on its way at a stop may be both delivered and spooled.
        for (const auto& [record, count] : normal.records) {
            EXPECT_GE(failed.records.count(record) ? failed.records.at(record) : 0, count) << record;
        }
        // What could not start is said, by name.
        if (fault.second == "0") {
            EXPECT_NE(result.child.stderrText.find("could not start the"), std::string::npos);
        }
    }
}

#else

TEST(StartFailures, CallEndsAtItsExitWithEveryRecordWhenThreadsOrTheHandBackCannotStart) {
    GTEST_SKIP() << "the start-failure shim is not built under the sanitizers (their runtime must be the first "
                    "preloaded library and intercepts pthread_create itself)";
}

#endif

}  // namespace
}  // namespace tarvik::testing
