// The metrics file of process-per-call calls: a hundred processes ending at
// once through the real update while a reader keeps reading it, what an
// update that cannot be made says, and a file that is not quite ours.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "metrics/CallMetrics.h"
#include "metrics/MetricsFile.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

// The value of one sample line ("name{labels} value"), or -1 when absent.
double sampleValue(const std::string& exposition, const std::string& series) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, series.size() + 1, series + " ") == 0) return std::atof(line.c_str() + series.size() + 1);
    }
    return -1;
}

// A whole file: every line a comment or "ivr_name[{labels}] number", the
// last family there, the last line ended.
::testing::AssertionResult isWhole(const std::string& text) {
    if (text.empty() || text.back() != '\n') return ::testing::AssertionFailure() << "not ended: " << text;
    if (text.find("# TYPE ivr_records_not_delivered_total counter\n") == std::string::npos) {
        return ::testing::AssertionFailure() << "cut short: " << text;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# HELP ivr_", 0) == 0 || line.rfind("# TYPE ivr_", 0) == 0) continue;
        const std::string::size_type space = line.rfind(' ');
        char* end = nullptr;
        if (line.rfind("ivr_", 0) != 0 || space == std::string::npos) {
            return ::testing::AssertionFailure() << "not a sample: " << line;
        }
        std::strtod(line.c_str() + space + 1, &end);
        if (*end != '\0') return ::testing::AssertionFailure() << "not a number: " << line;
    }
    return ::testing::AssertionSuccess();
}

// What one call reports: half end at an exit, half at a profile's
// replacement; every fourth left a record behind.
std::vector<std::string> callReports(int index) {
    std::vector<std::string> reports = {"request ready 2xx 0.004000", "request find_by_phone 2xx 0.030000",
                                        "spool waiting 3"};
    if (index % 4 == 0) reports.push_back("spool not-delivered-time-out 1");
    reports.push_back(index % 2 == 0 ? CallMetrics::endReport("50011", {}, 2.5)
                                     : CallMetrics::endReport("7000", {"7000"}, 12));
    return reports;
}

TEST(MetricsFile, HundredCallsEndingAtOnceAllCountAndTheFileIsAlwaysWhole) {
    constexpr int kCalls = 100;
    TempDir dir;
    const std::string path = dir.file("ivr-orvel.prom");
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::set<pid_t> running;
    for (int index = 0; index < kCalls; ++index) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Every call waits at the gate, so they all end at once.
            ::close(gate[1]);
            char byte;
            while (::read(gate[0], &byte, 1) < 0) {
            }
            std::string failure;
            _exit(MetricsFile::add(path, callReports(index), failure) ? 0 : 1);
        }
        running.insert(child);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // the gate opens for all

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    double lastEnded = 0;
    int reads = 0;
    while (!running.empty() && std::chrono::steady_clock::now() < deadline) {
        const std::string text = TempDir::readFile(path);
        if (!text.empty()) {
            ++reads;
            ASSERT_TRUE(isWhole(text));
            const double ended = sampleValue(text, "ivr_call_duration_seconds_count");
            EXPECT_GE(ended, lastEnded) << "a call's count was lost:\n" << text;
            lastEnded = ended;
        }
        int status = 0;
        pid_t done;
        while ((done = ::waitpid(-1, &status, WNOHANG)) > 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an update failed";
            running.erase(done);
        }
        if (done < 0) break;
        std::this_thread::yield();
    }
    for (pid_t left : running) ::kill(left, SIGKILL);
    for (pid_t left : running) ::waitpid(left, nullptr, 0);
    ASSERT_TRUE(running.empty()) << running.size() << " updates still running at the deadline";

    const std::string text = TempDir::readFile(path);
    ASSERT_TRUE(isWhole(text));
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"50011\"}"), kCalls / 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"7000\"}"), kCalls / 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_count"), kCalls) << text;
    EXPECT_NEAR(sampleValue(text, "ivr_call_duration_seconds_sum"), kCalls / 2 * 2.5 + kCalls / 2 * 12.0, 1e-3);
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_bucket{le=\"5\"}"), kCalls / 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"ready\",outcome=\"2xx\"}"), kCalls);
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"find_by_phone\",outcome=\"2xx\"}"), kCalls);
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_request_duration_seconds_bucket{operation=\"ready\",le=\"0.005\"}"),
              kCalls);
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_request_duration_seconds_bucket{operation=\"find_by_phone\",le=\"0.025\"}"),
              0);
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_request_duration_seconds_count{operation=\"find_by_phone\"}"), kCalls);
    EXPECT_EQ(sampleValue(text, "ivr_records_not_delivered_total{reason=\"time-out\"}"), kCalls / 4) << text;
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_waiting"), 3) << text;
    // Nothing left beside it but the lock.
    EXPECT_EQ(::access((path + ".tmp").c_str(), F_OK), -1);
    RecordProperty("whole_reads", reads);
}

TEST(MetricsFile, AFolderThatCannotBeWrittenSaysSoInOneLine) {
    TempDir dir;
    const std::string notAFolder = dir.write("plain", "x");
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {notAFolder + "/ivr.prom", "Not a directory"},
        {dir.file("missing/ivr.prom"), "No such file or directory"},
    };
    for (const auto& each : cases) {
        std::string failure;
        EXPECT_FALSE(MetricsFile::add(each.path, callReports(0), failure)) << each.path;
        EXPECT_EQ(failure.find('\n'), std::string::npos) << failure;
        EXPECT_EQ(failure.rfind("metrics file " + each.path + " not updated: ", 0), 0u) << failure;
        EXPECT_NE(failure.find(each.why), std::string::npos) << failure;
    }
}

// A file edited by hand, or left by an older program: what it counts is
// taken up, anything else goes; and a file read back is written the same.
TEST(MetricsFile, TakesUpTheCountsOfTheFileItFinds) {
    TempDir dir;
    const std::string path = dir.write("ivr.prom",
                                       "# a note\n"
                                       "ivr_calls_ended_total{destination=\"50011\"} 41\n"
                                       "ivr_some_other_metric 7\n"
                                       "not a sample line at all\n"
                                       "ivr_backoffice_requests_total{operation=\"ready\",outcome=\"5xx\"} 2\n");
    std::string failure;
    ASSERT_TRUE(MetricsFile::add(path, callReports(0), failure)) << failure;
    ASSERT_TRUE(MetricsFile::add(path, callReports(1), failure)) << failure;
    const std::string text = TempDir::readFile(path);
    ASSERT_TRUE(isWhole(text));
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"50011\"}"), 42) << text;
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"7000\"}"), 1) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"ready\",outcome=\"5xx\"}"), 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_some_other_metric"), -1) << text;
    // The histograms come back bucket by bucket: reading and writing again
    // changes nothing.
    CallMetrics again;
    again.restore(text);
    EXPECT_EQ(again.render(), text);
}

}  // namespace
}  // namespace tarvik::testing
