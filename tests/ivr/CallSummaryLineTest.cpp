// What a call Asterisk started leaves once it handed the caller back: its
// summary line (captured instead of going to syslog) and its numbers in the
// metrics file, for a customer found by phone and routed by the profile,
// and for one never found whose metrics folder is missing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ivr/CallFlowTestFixture.h"
#include "util/SystemLog.h"

namespace tarvik::testing {
namespace {

std::vector<std::string> logged;

void capture(const char* line) { logged.emplace_back(line); }

double sampleValue(const std::string& exposition, const std::string& series) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, series.size() + 1, series + " ") == 0) return std::atof(line.c_str() + series.size() + 1);
    }
    return -1;
}

// The number after "name=" in the line, or -1.
double fieldOf(const std::string& line, const std::string& name) {
    const std::string::size_type at = line.find(" " + name + "=");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + name.size() + 2);
}

Json::Value routeEntry(const std::string& exitKey, const std::string& extension, const std::string& mark,
                       const std::string& value) {
    Json::Value entry;
    entry["destinations"][exitKey] = extension;
    Json::Value condition;
    condition["mark"] = mark;
    condition["value"] = value;
    entry["variables"]["description"] = mark + " " + value;
    entry["variables"]["values"].append(condition);
    return entry;
}

class CallSummaryLineTest : public CallFlowTest {
protected:
    void SetUp() override {
        CallFlowTest::SetUp();
        logged.clear();
        SystemLog::setSink(&capture);
    }
    void TearDown() override {
        SystemLog::setSink(nullptr);
        CallFlowTest::TearDown();
    }
};

TEST_F(CallSummaryLineTest, FoundByPhoneAndRoutedByTheProfile) {
    config["metricsFile"] = dir.file("ivr.prom");
    config["profile"]["route"].append(routeEntry("50022", "7900", "plan", "cobre"));
    config["profile"]["route"].append(routeEntry("50022", "7300", "type", "pj"));
    knownByPhone(customer("98765432000110", {contract("c1", "paused")}));
    run();

    ASSERT_EQ(exits(), std::vector<std::string>{goTo("7300")});
    ASSERT_EQ(logged.size(), 1u);
    const std::string& line = logged.front();
    EXPECT_EQ(line.rfind("call uniqueid=1700000000.42 caller=11987654321 found=phone document=***********110 "
                         "contract=c1 exit=50022 extension=7300 route=1 seconds=",
                         0),
              0u)
        << line;
    const double requests = static_cast<double>(server.requests().size());
    EXPECT_EQ(fieldOf(line, "requests"), requests) << line;
    EXPECT_GE(fieldOf(line, "longest_wait_ms"), 0) << line;
    EXPECT_EQ(fieldOf(line, "not_delivered"), 0) << line;
    EXPECT_EQ(line.find("98765432000110"), std::string::npos) << line;

    const std::string text = dir.read("ivr.prom");
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"7300\"}"), 1) << text;
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_count"), 1) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"find_by_phone\",outcome=\"2xx\"}"), 1)
        << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"ready\",outcome=\"2xx\"}"), 1) << text;
    double counted = 0;
    std::istringstream lines(text);
    for (std::string each; std::getline(lines, each);) {
        if (each.rfind("ivr_backoffice_requests_total{", 0) == 0) counted += std::atof(each.c_str() + each.rfind(' '));
    }
    EXPECT_EQ(counted, requests) << text;
}

TEST_F(CallSummaryLineTest, NeverFoundAndTheMetricsFolderMissing) {
    config["metricsFile"] = dir.file("missing/ivr.prom");
    queue(session, {{"is_client", "2"}, {"document", "11122233344"}, {"document", "11122233344"},
                    {"document", "11122233344"}});
    ::testing::internal::CaptureStderr();
    run();
    const std::string errors = ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(exits(), std::vector<std::string>{goTo("50005")});
    ASSERT_EQ(logged.size(), 1u);
    const std::string& line = logged.front();
    EXPECT_EQ(line.rfind("call uniqueid=1700000000.42 caller=11987654321 found=not-found document=********344 "
                         "contract=- exit=50005 extension=50005 route=none seconds=",
                         0),
              0u)
        << line;
    EXPECT_EQ(fieldOf(line, "requests"), static_cast<double>(server.requests().size())) << line;
    // One line for the missing folder, and the call went on to its end.
    EXPECT_EQ(errors, "metrics file " + dir.file("missing/ivr.prom") +
                          " not updated: cannot lock: No such file or directory\n");
}

}  // namespace
}  // namespace tarvik::testing
