// ivr-orvel's FastAGI service with pooled call processes, against the
// simulator: a call served after another in the same process behaves as in
// a fresh one, the back-office connection is kept between calls (plain and
// TLS), and a back office that closes it or changes its certificate costs
// no call more than the new connection.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FastAgiClient.h"
#include "tests/support/FastAgiService.h"
#include "tests/support/IvrCall.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"

namespace tarvik::testing {
namespace {

const std::string kMaria = "11987654321";  // CL-5001: connected, one open invoice, mobile
const std::string kJoao = "1133334444";    // CL-5002: connected, one open invoice, landline

std::string answerInvoiceQuestion(const std::string& command) {
    if (command.rfind("GET DATA ", 0) == 0) {
        return command.find("Orvel-u4-33 ") != std::string::npos ? "200 result=1" : "200 result= (timeout)";
    }
    return ScriptedAsteriskPeer::defaultReply(command);
}

// The port of the service's metrics endpoint (every service here has one).
std::uint16_t metricsPortOf(const FastAgiService& service) {
    if (!service.waitForLog("fastagi: metrics on ")) return 0;
    const std::string log = service.log();
    std::string line = log.substr(log.find("fastagi: metrics on "));
    line = line.substr(0, line.find('\n'));
    return static_cast<std::uint16_t>(std::atoi(line.substr(line.rfind(':') + 1).c_str()));
}

// Waits until the service has no call in progress: its one process is done
// with the last call only once that call's records are delivered too, and a
// call that comes sooner is refused (--max-calls 1). False at the deadline.
bool waitUntilIdle(const FastAgiService& service) {
    const std::uint16_t metrics = metricsPortOf(service);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (httpGet(metrics, "/metrics").body.find("\nivr_calls_in_progress 0\n") == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// One call, taken by an idle service; when it returns, everything the call
// sent the back office is in the journal.
FastAgiClient::Result call(const FastAgiService& service, const std::vector<std::string>& arguments,
                           const std::string& caller, const std::string& uniqueId) {
    EXPECT_TRUE(waitUntilIdle(service)) << "a call before this one did not end";
    FastAgiClient client(service.port());
    client.setArguments(arguments);
    client.setStartupVariable("agi_callerid", caller);
    client.setStartupVariable("agi_uniqueid", uniqueId);
    client.setScript(answerInvoiceQuestion);
    FastAgiClient::Result result = client.run();
    EXPECT_TRUE(waitUntilIdle(service)) << "the call's process did not finish it";
    return result;
}

std::string lastGoto(const std::vector<std::string>& commands) {
    std::string found;
    for (const auto& command : commands) {
        if (command.rfind("EXEC Goto ", 0) == 0) found = command;
    }
    return found;
}

// The connections (the simulator's numbers) that the requests on the
// caller's path came over, and those of the records sent beside the call.
std::set<int> callerPathConnections(const std::vector<JournalEntry>& journal) {
    std::set<int> connections;
    for (const JournalEntry& entry : journal) {
        if (entry.operation != "logger") connections.insert(entry.connection);
    }
    return connections;
}

std::set<int> recordConnections(const std::vector<JournalEntry>& journal) {
    std::set<int> connections;
    for (const JournalEntry& entry : journal) {
        if (entry.operation == "logger") connections.insert(entry.connection);
    }
    return connections;
}

bool startService(FastAgiService& service, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"--fastagi", "127.0.0.1:0", "--max-calls", "1", "--metrics", "127.0.0.1:0"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return service.startProgram(orvelProgram(), arguments);
}

TEST(FastAgiPool, NextCallOnTheSameProcessSeesNothingOfTheLastOne) {
    IvrBackOffice office({"--recall-window", "0"});
    // Call A: its own configuration (context, a profile that sends 50011 of
    // the night campaign to 7300), marks, and a customer.
    const std::string configA = office.writeConfig(
        R"({"defaultContext": "ctx-a", "profile": {"route": [{"destinations": {"50011": "7300"},
            "variables": {"values": [{"mark": "campaign", "value": "night"}]}}]}})",
        "a.json");
    const std::string configB = office.writeConfig("{}", "b.json");
    const std::vector<std::string> argumentsA = {"atendimento", configA, "mark::campaign:night",
                                                 "mark::header-lumora:from-a"};
    const std::vector<std::string> argumentsB = {"atendimento", configB};

    // What call B does in a process of its own.
    FastAgiService fresh;
    ASSERT_TRUE(startService(fresh, {"--calls-per-process", "1"}));
    FastAgiClient::Result reference = call(fresh, argumentsB, kJoao, "1796790000.2");
    ASSERT_TRUE(reference.closedByService) << reference.failure;
    EXPECT_EQ(fresh.stop(), 0);

    // A pool of one: A, then B in the same process.
    FastAgiService pool;
    ASSERT_TRUE(startService(pool, {"--calls-per-process", "10"}));
    const std::size_t before = office.journal().size();
    FastAgiClient::Result first = call(pool, argumentsA, kMaria, "1796790000.1");
    EXPECT_EQ(lastGoto(first.commands), "EXEC Goto ctx-a,7300,1");
    const std::size_t afterA = office.journal().size();
    FastAgiClient::Result second = call(pool, argumentsB, kJoao, "1796790000.2");
    EXPECT_EQ(second.commands, reference.commands);
    EXPECT_EQ(lastGoto(second.commands), "EXEC Goto ivr-exits,50009,1");  // no invoice pending

    const std::vector<JournalEntry> journal = office.journal();
    ASSERT_GT(afterA, before);
    std::size_t lumoraInA = 0;
    for (std::size_t index = before; index < journal.size(); ++index) {
        const bool fromA = index < afterA;
        const bool lumora = journal[index].headers.count("Addon-Lumora") != 0;
        if (fromA) lumoraInA += lumora ? 1 : 0;
        if (!fromA) {
            EXPECT_FALSE(lumora) << journal[index].path;  // A's mark stayed with A
        }
    }
    EXPECT_GT(lumoraInA, 0u);

    // Both calls were served by the one process started ahead.
    const std::string exposition = httpGet(metricsPortOf(pool), "/metrics").body;
    EXPECT_NE(exposition.find("\nivr_calls_ended_total{destination=\"7300\"} 1\n"), std::string::npos) << exposition;
    EXPECT_NE(exposition.find("\nivr_call_processes_started_total 1\n"), std::string::npos) << exposition;
    EXPECT_EQ(pool.stop(), 0);
}

TEST(FastAgiPool, KeepsTheBackOfficeConnectionBetweenCalls) {
    FastAgiService pool;
    ASSERT_TRUE(startService(pool, {}));
    TempDir dir;
    int port = 0;
    std::string configuration;
    {
        // Idle connections outlive the test: every connection in the journal
        // is one the calls opened, none an idle close made them open again.
        IvrBackOffice office({"--recall-window", "0", "--keep-alive", "600"});
        port = office.port();
        configuration = dir.write("orvel.json", TempDir::readFile(office.writeConfig()));
        const std::vector<std::string> arguments = {"atendimento", configuration};
        EXPECT_EQ(lastGoto(call(pool, arguments, kMaria, "1796791000.1").commands), "EXEC Goto ivr-exits,50011,1");
        const std::vector<JournalEntry> cold = office.journal();
        // The caller's path: one connection for the flow's own requests, one
        // for those started early; one for the records sent beside it.
        const std::set<int> callerPath = callerPathConnections(cold);
        const std::set<int> records = recordConnections(cold);
        EXPECT_GE(callerPath.size(), 1u);
        EXPECT_LE(callerPath.size(), 2u);
        EXPECT_EQ(records.size(), 1u);
        EXPECT_NE(callerPath, records);
        for (int index = 2; index <= 4; ++index) {
            FastAgiClient::Result next = call(pool, arguments, kMaria, "1796791000." + std::to_string(index));
            EXPECT_EQ(lastGoto(next.commands), "EXEC Goto ivr-exits,50011,1");
        }
        const std::vector<JournalEntry> warm = office.journal();
        EXPECT_GT(warm.size(), cold.size());
        // No new connection once warm.
        EXPECT_EQ(callerPathConnections(warm), callerPath);
        EXPECT_EQ(recordConnections(warm), records);
    }

    // The back office closes the kept connections (it goes away and comes
    // back at the same place); the next call opens new ones and sends each
    // of its requests once.
    IvrBackOffice office({"--port", std::to_string(port), "--recall-window", "0"});
    ASSERT_EQ(office.port(), port);
    EXPECT_EQ(lastGoto(call(pool, {"atendimento", configuration}, kMaria, "1796791000.9").commands),
              "EXEC Goto ivr-exits,50011,1");
    std::map<std::string, int> seen;
    for (const JournalEntry& entry : office.journal()) {
        if (entry.operation == "unknown") continue;  // the stats
        EXPECT_EQ(++seen[entry.operation + " " + entry.bodyText], 1) << entry.operation;
    }
    EXPECT_FALSE(seen.empty());
    EXPECT_EQ(pool.stop(), 0);
}

TEST(FastAgiPool, KeptTlsConnectionAndACertificateThatChanges) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.ok());
    TempDir dir;
    int port = 0;
    std::string configuration;
    FastAgiService pool;
    {
        // Idle connections outlive the test: a new connection is the client's doing.
        IvrBackOffice office({"--recall-window", "0", "--keep-alive", "600", "--tls-cert", certificates.good().cert,
                              "--tls-key", certificates.good().key});
        port = office.port();
        configuration = dir.write("tls.json", TempDir::readFile(office.writeConfig(
                                                  R"({"verifyTls": true, "caFile": ")" + certificates.caFile() + "\"}")));
        ASSERT_TRUE(startService(pool, {}));
        const std::vector<std::string> arguments = {"atendimento", configuration};
        EXPECT_EQ(lastGoto(call(pool, arguments, kMaria, "1796792000.1").commands), "EXEC Goto ivr-exits,50011,1");
        const std::vector<JournalEntry> cold = office.journal();
        EXPECT_EQ(lastGoto(call(pool, arguments, kMaria, "1796792000.2").commands), "EXEC Goto ivr-exits,50011,1");
        const std::vector<JournalEntry> warm = office.journal();
        EXPECT_GT(warm.size(), cold.size());
        // No new handshake.
        EXPECT_EQ(callerPathConnections(warm), callerPathConnections(cold));
        EXPECT_EQ(recordConnections(warm), recordConnections(cold));
    }
    const std::vector<std::string> arguments = {"atendimento", configuration};
    {
        // Same place, another certificate from the same CA: a new connection, verified again.
        IvrBackOffice office({"--port", std::to_string(port), "--recall-window", "0", "--tls-cert",
                              certificates.secondGood().cert, "--tls-key", certificates.secondGood().key});
        ASSERT_EQ(office.port(), port);
        EXPECT_EQ(lastGoto(call(pool, arguments, kMaria, "1796792000.3").commands), "EXEC Goto ivr-exits,50011,1");
    }
    {
        // And one the CA never signed: refused like any bad certificate.
        IvrBackOffice office({"--port", std::to_string(port), "--recall-window", "0", "--tls-cert",
                              certificates.selfSigned().cert, "--tls-key", certificates.selfSigned().key});
        ASSERT_EQ(office.port(), port);
        FastAgiClient::Result refused = call(pool, arguments, kMaria, "1796792000.4");
        EXPECT_EQ(lastGoto(refused.commands), "EXEC Goto ivr-exits,50002,1");  // not ready, no document
        EXPECT_TRUE(office.journal().empty());
    }
    EXPECT_NE(pool.log().find("curl_easy_perform() failed: SSL peer certificate"), std::string::npos) << pool.log();
    EXPECT_EQ(pool.stop(), 0);
}

// The service's children (its call processes), from /proc.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::ifstream list("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    std::vector<pid_t> children;
    for (pid_t child; list >> child;) children.push_back(child);
    return children;
}

TEST(FastAgiPool, AKilledCallProcessEndsItsCallAndIsReplaced) {
    IvrBackOffice office({"--recall-window", "0"});
    const std::string configuration = office.writeConfig();
    FastAgiService pool;
    ASSERT_TRUE(startService(pool, {}));  // a pool of one
    std::vector<pid_t> processes = childrenOf(pool.pid());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (processes.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // started just after the listening line
        processes = childrenOf(pool.pid());
    }
    ASSERT_EQ(processes.size(), 1u);

    // A call waiting at its first question when its process is killed.
    int held = FastAgiClient::connectTo(pool.port(), std::chrono::milliseconds(5000));
    ASSERT_GE(held, 0);
    std::string block;
    for (const auto& variable : FastAgiClient::networkStartup("ivr-orvel", {"atendimento", configuration})) {
        block += variable.first + ": " + variable.second + "\n";
    }
    block += "agi_callerid: " + kMaria + "\n\n";
    ::send(held, block.data(), block.size(), MSG_NOSIGNAL);
    pollfd watched{held, POLLIN, 0};
    ASSERT_EQ(::poll(&watched, 1, 10000), 1);  // its first command: the call runs
    ::kill(processes[0], SIGKILL);
    // Asterisk sees the connection end: its failure path.
    char buffer[4096];
    ssize_t got = 1;
    for (int turn = 0; turn < 100 && got > 0; ++turn) {
        if (::poll(&watched, 1, 10000) != 1) break;
        got = ::recv(held, buffer, sizeof(buffer), 0);
    }
    EXPECT_EQ(got, 0);
    ::close(held);
    ASSERT_TRUE(pool.waitForLog("ended by signal 9"));

    // The pool has a new process, and the next call is served as ever.
    FastAgiClient::Result next = call(pool, {"atendimento", configuration}, kMaria, "1796795000.2");
    EXPECT_EQ(lastGoto(next.commands), "EXEC Goto ivr-exits,50011,1");
    processes = childrenOf(pool.pid());
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(pool.stop(), 0);
}

}  // namespace
}  // namespace tarvik::testing
