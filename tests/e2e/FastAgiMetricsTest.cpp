// The service's /metrics and /health endpoint, with ivr-orvel serving whole
// calls against the simulator: what the numbers say after calls, how the
// endpoint answers what is not a proper request, and that neither idle
// connections nor a drain stop it from telling the truth.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/SpoolFiles.h"
#include "tests/support/FastAgiClient.h"
#include "tests/support/FastAgiService.h"
#include "tests/support/IvrCall.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ScriptedAsteriskPeer.h"

namespace tarvik::testing {
namespace {

using std::chrono::milliseconds;

const std::string kCaller = "11987654321";  // CL-5001: connected, one open invoice

std::string answerInvoiceQuestion(const std::string& command) {
    if (command.rfind("GET DATA ", 0) == 0) {
        return command.find("Orvel-u4-33 ") != std::string::npos ? "200 result=1" : "200 result= (timeout)";
    }
    return ScriptedAsteriskPeer::defaultReply(command);
}

FastAgiClient::Result oneCall(std::uint16_t port, const std::string& configuration, const std::string& uniqueId) {
    FastAgiClient client(port);
    client.setArguments({"atendimento", configuration});
    client.setStartupVariable("agi_callerid", kCaller);
    client.setStartupVariable("agi_uniqueid", uniqueId);
    client.setScript(answerInvoiceQuestion);
    return client.run();
}

// The metrics port from the service's "fastagi: metrics on ADDRESS:PORT" line.
std::uint16_t metricsPort(const FastAgiService& service) {
    if (!service.waitForLog("fastagi: metrics on ")) return 0;
    const std::string log = service.log();
    std::size_t at = log.find("fastagi: metrics on ");
    std::size_t end = log.find('\n', at);
    std::string address = log.substr(at, end - at);
    return static_cast<std::uint16_t>(std::atoi(address.substr(address.rfind(':') + 1).c_str()));
}

// The value of one sample line ("name{labels} value"), or -1 when absent.
double sampleValue(const std::string& exposition, const std::string& series) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, series.size() + 1, series + " ") == 0) return std::atof(line.c_str() + series.size() + 1);
    }
    return -1;
}

// Every line is a comment or "name[{labels}] number", names with the prefix.
void expectWellFormed(const std::string& exposition) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# HELP ivr_", 0) == 0 || line.rfind("# TYPE ivr_", 0) == 0) continue;
        EXPECT_EQ(line.rfind("ivr_", 0), 0u) << line;
        std::size_t space = line.rfind(' ');
        ASSERT_NE(space, std::string::npos) << line;
        char* end = nullptr;
        std::strtod(line.c_str() + space + 1, &end);
        EXPECT_EQ(*end, '\0') << line;
    }
}

// The numbers once no call is in progress: a call's process says it is
// done a moment after the call's log line.
std::string settledMetrics(std::uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string text = httpGet(port, "/metrics").body;
    while (sampleValue(text, "ivr_calls_in_progress") != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
        text = httpGet(port, "/metrics").body;
    }
    return text;
}

struct Service {
    explicit Service(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"--fastagi", "127.0.0.1:0", "--metrics", "127.0.0.1:0"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        started = process.startProgram(orvelProgram(), arguments);
        if (started) metrics = metricsPort(process);
    }
    FastAgiService process;
    bool started = false;
    std::uint16_t metrics = 0;
};

TEST(FastAgiMetrics, CountsCallsAndBackOfficeAnswers) {
    IvrBackOffice office({"--recall-window", "0"});
    const std::string configuration = office.writeConfig();
    Service service({"--max-calls", "5"});
    ASSERT_TRUE(service.started);
    ASSERT_NE(service.metrics, 0);

    HttpAnswer health = httpGet(service.metrics, "/health");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok\n");

    for (int index = 0; index < 2; ++index) {
        FastAgiClient::Result call = oneCall(service.process.port(), configuration, "1796781000." + std::to_string(index));
        EXPECT_TRUE(call.closedByService) << call.failure;
    }
    ASSERT_TRUE(service.process.waitForLog("destination=ivr-exits,50011,1", 2));
    const std::string text = settledMetrics(service.metrics);
    expectWellFormed(text);
    EXPECT_EQ(sampleValue(text, "ivr_calls_in_progress"), 0) << text;
    EXPECT_EQ(sampleValue(text, "ivr_calls_max"), 5) << text;
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"50011\"}"), 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_count"), 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_bucket{le=\"+Inf\"}"), 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"ready\",outcome=\"2xx\"}"), 2) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"find_by_phone\",outcome=\"2xx\"}"), 2)
        << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"send_invoice\",outcome=\"2xx\"}"), 2)
        << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_request_duration_seconds_count{operation=\"ready\"}"), 2) << text;
    EXPECT_GE(sampleValue(text, "ivr_call_processes_started_total"), 2) << text;
    EXPECT_EQ(text.find(kCaller), std::string::npos);  // nothing about the caller
    // The configuration names a metrics file: the service's calls count
    // here only, never twice.
    EXPECT_FALSE(std::filesystem::exists(office.metricsPath()));
    EXPECT_EQ(service.process.stop(), 0);
}

// Records an earlier call left in the spool: one the back office takes and
// one file that is no record. The next call delivers the first and sets the
// second aside; the numbers say so.
TEST(FastAgiMetrics, CountsWhatHappensInTheSpool) {
    IvrBackOffice office({"--recall-window", "0"});
    const std::string configuration = office.writeConfig();
    writeSpooledLogEntry(office.spoolPath(), exampleOffice(office.baseUrl()), "1000000000000000000-1-000000",
                         "{\"eventType\":\"earlier\"}");
    std::ofstream(office.spoolPath() + "/1000000000000000000-1-000001.rec") << "not a record\n";
    Service service;
    ASSERT_TRUE(service.started);
    ASSERT_NE(service.metrics, 0);

    HttpAnswer before = httpGet(service.metrics, "/metrics");
    EXPECT_EQ(sampleValue(before.body, "ivr_spool_records_delivered_total"), 0) << before.body;
    FastAgiClient::Result call = oneCall(service.process.port(), configuration, "1796783000.1");
    EXPECT_TRUE(call.closedByService) << call.failure;
    ASSERT_TRUE(service.process.waitForLog("destination=ivr-exits,50011,1")) << service.process.log();
    const std::string text = settledMetrics(service.metrics);
    expectWellFormed(text);
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_delivered_total"), 1) << text;
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_set_aside_total"), 1) << text;
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_stored_total"), 0) << text;
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_dropped_total"), 0) << text;
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_waiting"), 0) << text;
    // Per back office, so a service of several providers tells them apart.
    const std::string label = "{backoffice=\"" + exampleOffice(office.baseUrl()).address() + "\"} ";
    EXPECT_NE(text.find("ivr_spool_backoffice_records_waiting" + label + "0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ivr_spool_backoffice_records_aside" + label + "0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ivr_spool_backoffice_oldest_record_age_seconds" + label), std::string::npos) << text;
    EXPECT_EQ(service.process.stop(), 0);
}

TEST(FastAgiMetrics, MalformedRequestsAndManyConnections) {
    IvrBackOffice office({"--recall-window", "0"});
    Service service;
    ASSERT_TRUE(service.started);
    ASSERT_NE(service.metrics, 0);
    const std::uint16_t port = service.metrics;
    const struct {
        std::string request;
        std::string statusLine;
    } cases[] = {
        {"GARBAGE\r\n\r\n", "HTTP/1.1 400 "},
        {"GET /metrics\r\n\r\n", "HTTP/1.1 400 "},
        {"GET /metrics HTTP/2.0\r\n\r\n", "HTTP/1.1 400 "},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 "},
        {"GET /../etc/passwd HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
        {"GET /health HTTP/1.1\r\nX-Pad: " + std::string(9000, 'x') + "\r\n\r\n", "HTTP/1.1 400 "},
        {"GET /health?full=1 HTTP/1.0\n\n", "HTTP/1.1 200 "},
        {std::string("GET /health\0 HTTP/1.1\r\n\r\n", 25), "HTTP/1.1 400 "},
    };
    for (const auto& each : cases) {
        std::string answer = rawHttpExchange(port, each.request);
        EXPECT_EQ(answer.compare(0, each.statusLine.size(), each.statusLine), 0)
            << each.request.substr(0, 40) << " -> " << answer.substr(0, 60);
    }
    std::string head = rawHttpExchange(port, "HEAD /health HTTP/1.1\r\n\r\n");
    EXPECT_EQ(head.compare(0, 13, "HTTP/1.1 200 "), 0) << head;
    EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");

    // A hundred connections that never say anything: the calls go on, the
    // idle ones are dropped, and the endpoint answers again afterwards.
    std::vector<int> idle;
    for (int index = 0; index < 100; ++index) {
        int socketFd = FastAgiClient::connectTo(port, milliseconds(2000));
        if (socketFd >= 0) idle.push_back(socketFd);
    }
    FastAgiClient::Result call = oneCall(service.process.port(), office.writeConfig(), "1796782000.1");
    EXPECT_TRUE(call.closedByService) << call.failure;
    EXPECT_EQ(call.commands.empty() ? "" : call.commands.back().substr(0, 9), "VERBOSE \"");
    for (int socketFd : idle) {
        pollfd watched{socketFd, POLLIN, 0};
        char byte;
        EXPECT_TRUE(::poll(&watched, 1, 10000) == 1 && ::recv(socketFd, &byte, 1, 0) <= 0);
        ::close(socketFd);
    }
    EXPECT_EQ(httpGet(port, "/health").status, 200);
    EXPECT_EQ(service.process.stop(), 0);
}

TEST(FastAgiMetrics, HealthTurnsUnavailableWhileDraining) {
    IvrBackOffice office({"--recall-window", "0"});
    Service service;
    ASSERT_TRUE(service.started);
    ASSERT_NE(service.metrics, 0);
    // A call that waits at its first question (Asterisk never answers).
    int held = FastAgiClient::connectTo(service.process.port(), milliseconds(5000));
    ASSERT_GE(held, 0);
    std::string block;
    for (const auto& variable : FastAgiClient::networkStartup("ivr-orvel", {"atendimento", office.writeConfig()})) {
        block += variable.first + ": " + variable.second + "\n";
    }
    block += "agi_callerid: " + kCaller + "\n\n";
    ::send(held, block.data(), block.size(), MSG_NOSIGNAL);
    pollfd watched{held, POLLIN, 0};
    ASSERT_EQ(::poll(&watched, 1, 10000), 1);  // the call runs

    service.process.signal(SIGTERM);
    ASSERT_TRUE(service.process.waitForLog("fastagi: stopping, 1 calls in progress"));
    HttpAnswer health = httpGet(service.metrics, "/health");
    EXPECT_EQ(health.status, 503);
    EXPECT_EQ(health.body, "draining\n");
    EXPECT_EQ(sampleValue(httpGet(service.metrics, "/metrics").body, "ivr_accepting_calls"), 0);
    ::close(held);  // the call ends along its failure paths; the service then exits
    EXPECT_EQ(service.process.stop(milliseconds(30000), false), 0);
}

}  // namespace
}  // namespace tarvik::testing
