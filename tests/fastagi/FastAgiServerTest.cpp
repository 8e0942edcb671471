#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fastagi/FastAgiMode.h"
#include "fastagi/FastAgiServer.h"
#include "runner/ModuleIvr.h"
#include "tests/support/FastAgiClient.h"
#include "tests/support/FastAgiService.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/TempDir.h"
#include "util/CText.h"

namespace tarvik::testing {
namespace {

using std::chrono::milliseconds;

// A module whose every step shows on the wire, so the client sees what the
// service's child did: arguments, destination, configuration, one digit
// question, one variable, and the hand-over to the dial plan.
class WireModule : public IModuleIvr {
public:
    WireModule() : IModuleIvr("wire") {}

    void onReadArgument(const char* argument) override { arguments.emplace_back(argument); }
    void setDestination(KestroAgiImpl& session, const char* value) override {
        destination = value;
        session.verbose("destination [%s]", value);
    }
    void loadConfiguration(KestroAgiImpl& session, const char* path) override {
        session.verbose("configuration %s", path);
    }
    void play(KestroAgiImpl& session) override {
        for (const std::string& argument : arguments) session.verbose("argument %s", argument.c_str());
        const char* script = session.getAsteriskVariable("agi_network_script");
        session.verbose("script %s", script != nullptr ? script : "(none)");
        if (destination == "crash") ::raise(SIGKILL);
        CText digits(session.input("digits", 4, 5, "prompt", 1));
        session.verbose("digits %s", digits ? digits.get() : "(none)");
        CText value(session.getVariable("FOO"));
        session.verbose("FOO %s", value ? value.get() : "(none)");
        session.goTo("ivr-exits", destination.empty() ? "50001" : destination.c_str(), "1");
    }

private:
    std::vector<std::string> arguments;
    std::string destination;
};

int runService(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "ivr-test");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    WireModule module;
    ModuleIvr runner;
    FastAgiMode service(nullptr, [] { return std::make_unique<WireModule>(); });
    runner.setService(&service);
    return runner.execute(static_cast<int>(arguments.size()), argv.data(), module);
}

bool startService(FastAgiService& service, const std::vector<std::string>& arguments) {
    return service.startFunction([arguments] { return runService(arguments); });
}

std::string scripted(const std::string& command) {
    if (command.rfind("GET DATA", 0) == 0) return "200 result=1234";
    if (command == "GET VARIABLE FOO") return "200 result=1 (bar baz)";
    return ScriptedAsteriskPeer::defaultReply(command);
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Reads the first command of a held call (proof that its child runs); the
// call then waits for a reply that the test gives later, or never.
std::string firstCommand(int socketFd) {
    std::string text;
    char byte;
    pollfd watched{socketFd, POLLIN, 0};
    while (text.find('\n') == std::string::npos && ::poll(&watched, 1, 10000) == 1 && ::recv(socketFd, &byte, 1, 0) == 1) {
        text += byte;
    }
    return text;
}

int heldCall(std::uint16_t port, const std::vector<std::string>& arguments) {
    int socketFd = FastAgiClient::connectTo(port, milliseconds(5000));
    std::string block;
    for (const auto& variable : FastAgiClient::networkStartup("ivr-test", arguments)) {
        block += variable.first + ": " + variable.second + "\n";
    }
    block += "\n";
    if (socketFd >= 0) ::send(socketFd, block.data(), block.size(), MSG_NOSIGNAL);
    return socketFd;
}

// True when the service closed the connection without a word.
bool closedAtOnce(int socketFd) {
    pollfd watched{socketFd, POLLIN, 0};
    char byte;
    return ::poll(&watched, 1, 10000) == 1 && ::recv(socketFd, &byte, 1, 0) <= 0;
}

// Reads whatever comes until the service closes; false at the deadline.
bool readUntilClosed(int socketFd) {
    pollfd watched{socketFd, POLLIN, 0};
    char chunk[4096];
    for (int turn = 0; turn < 1000; ++turn) {
        if (::poll(&watched, 1, 10000) != 1) return false;
        if (::recv(socketFd, chunk, sizeof(chunk), 0) <= 0) return true;
    }
    return false;
}

TEST(FastAgiServer, ServesCallsLikeTheCommandLine) {
    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "127.0.0.1:0"}));
    EXPECT_NE(service.log().find("fastagi: listening on 127.0.0.1:"), std::string::npos);

    // The AGI() arguments route as argv would: destination, configuration
    // file, then the rest to the module in order.
    FastAgiClient client(service.port());
    client.setArguments({"50009", "/etc/orvel.json", "mark::campaign:x", "two words"});
    client.setScript(scripted);
    FastAgiClient::Result call = client.run();
    EXPECT_TRUE(call.closedByService) << call.failure;
    const std::vector<std::string> expected = {
        "VERBOSE \"Agi is loaded in mode normal\" 1",
        "VERBOSE \"Agi starting to destination 50009\" 1",
        "VERBOSE \"destination [50009]\" 1",
        "VERBOSE \"Agi starting configuration with file /etc/orvel.json\" 1",
        "VERBOSE \"configuration /etc/orvel.json\" 1",
        "VERBOSE \"Player is a native ivr module by wire\" 1",
        "VERBOSE \"argument mark::campaign:x\" 1",
        "VERBOSE \"argument two words\" 1",
        "VERBOSE \"script ivr-orvel\" 1",
        "GET DATA prompt 5000 4",
        "VERBOSE \"Real Asterisk Data Received:[1234]\" 1",
        "VERBOSE \"Success on get from asterisk variable: digits -> 1234\" 1",
        "VERBOSE \"digits 1234\" 1",
        "GET VARIABLE FOO",
        "VERBOSE \"Real Asterisk Data Received:[1 (bar baz)]\" 1",
        "VERBOSE \"Success on get from asterisk variable: FOO -> bar baz\" 1",
        "VERBOSE \"FOO bar baz\" 1",
        "EXEC Goto ivr-exits,50009,1",
        "VERBOSE \"Player finished by wire\" 1",
    };
    EXPECT_EQ(call.commands, expected);

    // A configuration file first: the destination is empty. Several calls
    // at once, each in its own child.
    std::vector<FastAgiClient::Result> results(4);
    std::vector<std::thread> callers;
    for (std::size_t index = 0; index < results.size(); ++index) {
        callers.emplace_back([&, index] {
            FastAgiClient each(service.port());
            each.setArguments({"site.json.v2"});
            each.setScript(scripted);
            results[index] = each.run();
        });
    }
    for (auto& caller : callers) caller.join();
    for (const auto& result : results) {
        EXPECT_TRUE(result.closedByService) << result.failure;
        EXPECT_TRUE(contains(result.commands, "VERBOSE \"destination []\" 1"));
        EXPECT_TRUE(contains(result.commands, "EXEC Goto ivr-exits,50001,1"));
    }

    // No argument at all: the call ends at once with status 1.
    FastAgiClient bare(service.port());
    bare.setArguments({});
    FastAgiClient::Result none = bare.run();
    EXPECT_EQ(none.commands,
              (std::vector<std::string>{
                  "VERBOSE \"Agi needs a destination or a configuration file (.json) to start\" 1"}));

    // One log line per call, with the calling number and where it went.
    ASSERT_TRUE(service.waitForLog("fastagi: call ", 6));
    EXPECT_EQ(service.countInLog("caller=5511999990000 "), 6u);
    EXPECT_EQ(service.countInLog(" destination=ivr-exits,50009,1 hangup=no status=0"), 1u);
    EXPECT_EQ(service.countInLog(" destination=ivr-exits,50001,1 hangup=no status=0"), 4u);
    EXPECT_EQ(service.countInLog(" destination=- hangup=no status=1"), 1u);
    EXPECT_EQ(service.log().find("bar baz"), std::string::npos);  // no call data in the log
    EXPECT_TRUE(service.waitForNoZombies());

    // SIGHUP does not stop the service.
    service.signal(SIGHUP);
    FastAgiClient after(service.port());
    after.setArguments({"50002"});
    EXPECT_TRUE(contains(after.run().commands, "EXEC Goto ivr-exits,50002,1"));

    EXPECT_EQ(service.stop(), 0);
    EXPECT_NE(service.log().find("fastagi: stopped"), std::string::npos);
}

TEST(FastAgiServer, HangupLineKeepsRepliesInStep) {
    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "0"}));
    FastAgiClient client(service.port());
    client.setArguments({"50010"});
    client.setScript(scripted);
    client.hangUpAtCommand(6);  // the GET DATA
    FastAgiClient::Result call = client.run();
    ASSERT_GE(call.commands.size(), 8u) << call.failure;
    EXPECT_EQ(call.commands[5], "GET DATA prompt 5000 4");
    EXPECT_EQ(call.commands[6], "VERBOSE \"Real Asterisk Data Received:[-1]\" 1");
    // Had the HANGUP line been taken as a reply, FOO would read one behind.
    EXPECT_TRUE(contains(call.commands, "VERBOSE \"FOO bar baz\" 1"));
    EXPECT_TRUE(contains(call.commands, "EXEC Goto ivr-exits,50010,1"));
    ASSERT_TRUE(service.waitForLog("fastagi: call "));
    EXPECT_EQ(service.countInLog("destination=ivr-exits,50010,1 hangup=yes status=0"), 1u) << service.log();
}

TEST(FastAgiServer, RefusesBeyondMaxCallsAndOutsideTheAllowList) {
    {
        FastAgiService service;
        ASSERT_TRUE(startService(service, {"--max-calls", "2", "--fastagi", "127.0.0.1:0"}));
        int first = heldCall(service.port(), {"50001"});
        int second = heldCall(service.port(), {"50002"});
        EXPECT_EQ(firstCommand(first), "VERBOSE \"Agi is loaded in mode normal\" 1\n");
        EXPECT_EQ(firstCommand(second), "VERBOSE \"Agi is loaded in mode normal\" 1\n");

        int third = heldCall(service.port(), {"50003"});
        EXPECT_TRUE(closedAtOnce(third));
        ::close(third);
        EXPECT_TRUE(service.waitForLog("max_calls=2 reached"));

        // Calls that end free their places.
        ::close(first);
        ::close(second);
        ASSERT_TRUE(service.waitForLog("fastagi: call ", 2));
        // A call's place is free once the service has reaped its process,
        // which follows the call's own log line by a moment.
        bool served = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!served && std::chrono::steady_clock::now() < deadline) {
            FastAgiClient later(service.port());
            later.setArguments({"50004"});
            served = contains(later.run().commands, "EXEC Goto ivr-exits,50004,1");
            if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(served);
        EXPECT_EQ(service.stop(), 0);
    }
    {
        FastAgiService service;
        ASSERT_TRUE(startService(service, {"--fastagi", "0", "--allow", "10.0.0.0/8", "--allow", "192.0.2.1"}));
        int refused = heldCall(service.port(), {"50001"});
        EXPECT_TRUE(closedAtOnce(refused));
        ::close(refused);
        EXPECT_TRUE(service.waitForLog("refused 127.0.0.1:"));
        EXPECT_EQ(service.countInLog("not in the allow list"), 1u);
        EXPECT_EQ(service.stop(), 0);
    }
    {
        FastAgiService service;
        ASSERT_TRUE(startService(service, {"--allow", "127.0.0.0/8", "--fastagi", "0"}));
        FastAgiClient allowed(service.port());
        allowed.setArguments({"50005"});
        EXPECT_TRUE(contains(allowed.run().commands, "EXEC Goto ivr-exits,50005,1"));
        EXPECT_EQ(service.stop(), 0);
    }
    // Unusable values are refused before anything listens.
    FastAgiService bad;
    EXPECT_FALSE(bad.startFunction([] { return runService({"--fastagi", "4573", "--allow", "everyone"}); }));
    EXPECT_EQ(bad.log().substr(0, bad.log().find('\n')), "ivr-test: invalid value for --allow: everyone");
}

TEST(FastAgiServer, SigtermLetsCallsFinishWithinTheDrainTime) {
    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "0"}));
    std::uint16_t port = service.port();
    int held = heldCall(port, {"50020"});
    ASSERT_EQ(firstCommand(held), "VERBOSE \"Agi is loaded in mode normal\" 1\n");

    service.signal(SIGTERM);
    ASSERT_TRUE(service.waitForLog("fastagi: stopping, 1 calls in progress"));
    EXPECT_LT(FastAgiClient::connectTo(port, milliseconds(2000)), 0);  // no longer listening

    // The call in progress still runs to its end.
    std::string rest;
    std::string pending = "200 result=1\n";
    for (int turn = 0; turn < 200 && rest.find("EXEC Goto ivr-exits,50020,1\n") == std::string::npos; ++turn) {
        ::send(held, pending.data(), pending.size(), MSG_NOSIGNAL);
        rest += firstCommand(held);
    }
    EXPECT_NE(rest.find("EXEC Goto ivr-exits,50020,1\n"), std::string::npos);
    pending += pending;  // the Goto and the closing verbose line
    ::send(held, pending.data(), pending.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(readUntilClosed(held));
    ::close(held);
    EXPECT_EQ(service.stop(milliseconds(20000), false), 0);
    EXPECT_EQ(service.countInLog("destination=ivr-exits,50020,1"), 1u);
}

TEST(FastAgiServer, DrainTimeoutKillsStuckCallsAndCrashesAreLogged) {
    FastAgiService service;
    ASSERT_TRUE(service.startFunction([] {
        FastAgiOptions options;
        options.port = 0;
        options.drainTimeout = milliseconds(300);
        WireModule module;
        ModuleIvr runner;
        FastAgiServer server(options, [&](int socketFd, FastAgiCallRecord& record) {
            return FastAgiMode::serveConnection(runner, socketFd, record, module);
        });
        return server.run();
    }));
    int crashing = heldCall(service.port(), {"crash"});
    std::string replies;
    for (int index = 0; index < 20; ++index) replies += "200 result=1\n";
    ::send(crashing, replies.data(), replies.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(readUntilClosed(crashing));
    ::close(crashing);
    EXPECT_TRUE(service.waitForLog("ended by signal 9")) << service.log();
    EXPECT_TRUE(service.waitForNoZombies());

    int stuck = heldCall(service.port(), {"50001"});
    ASSERT_EQ(firstCommand(stuck), "VERBOSE \"Agi is loaded in mode normal\" 1\n");
    service.signal(SIGTERM);
    EXPECT_EQ(service.stop(milliseconds(20000), false), 0);
    EXPECT_EQ(service.countInLog("stopping 1 calls still running after the drain timeout"), 1u);
    ::close(stuck);
}

TEST(FastAgiServer, DropsPeersThatSendNoProperStartupBlock) {
    FastAgiService service;
    ASSERT_TRUE(service.startFunction([] {
        FastAgiOptions options;
        options.port = 0;
        // Long enough for a peer that sends its block right after connecting,
        // even when the test is held up between the two.
        options.startupTimeout = milliseconds(2000);
        options.maxStartupBytes = 1024;
        FastAgiServer server(options, [](int, FastAgiCallRecord&) {
            FastAgiServer::log("handler ran");
            return 0;
        });
        return server.run();
    }));
    int silent = FastAgiClient::connectTo(service.port(), milliseconds(5000));
    EXPECT_TRUE(closedAtOnce(silent));
    ::close(silent);
    EXPECT_TRUE(service.waitForLog("ended: no whole start-up block in time"));

    int flooding = FastAgiClient::connectTo(service.port(), milliseconds(5000));
    std::string flood(2000, 'a');
    ::send(flooding, flood.data(), flood.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(closedAtOnce(flooding));
    ::close(flooding);
    EXPECT_TRUE(service.waitForLog("ended: start-up block too long"));
    EXPECT_EQ(service.countInLog("handler ran"), 0u);

    FastAgiClient proper(service.port());
    proper.run();
    EXPECT_TRUE(service.waitForLog("handler ran"));
    EXPECT_TRUE(service.waitForNoZombies());
    EXPECT_EQ(service.stop(), 0);
}

// The metrics endpoint's port, from the "fastagi: metrics on ..." line.
std::uint16_t metricsPortOf(const FastAgiService& service) {
    if (!service.waitForLog("fastagi: metrics on ")) return 0;
    std::string log = service.log();
    std::string line = log.substr(log.find("fastagi: metrics on "));
    line = line.substr(0, line.find('\n'));
    return static_cast<std::uint16_t>(std::atoi(line.substr(line.rfind(':') + 1).c_str()));
}

std::string metricsOf(std::uint16_t port) {
    std::string answer = rawHttpExchange(port, "GET /metrics HTTP/1.1\r\n\r\n");
    return answer.substr(answer.find("\r\n\r\n") + 4);
}

int pooledService(std::size_t callsPerProcess, std::size_t memoryBound) {
    FastAgiOptions options;
    options.port = 0;
    options.maxCalls = 3;
    options.callsPerProcess = callsPerProcess;
    options.maxProcessMemory = memoryBound;
    options.metricsEnabled = true;
    ModuleIvr runner;
    FastAgiServer server(options, [&](int socketFd, FastAgiCallRecord& record) {
        WireModule module;  // the call's own, gone with it
        return FastAgiMode::serveConnection(runner, socketFd, record, module);
    });
    return server.run();
}

FastAgiClient::Result wireCall(std::uint16_t port, const std::string& destination) {
    FastAgiClient client(port);
    client.setArguments({destination});
    client.setScript(scripted);
    return client.run();
}

TEST(FastAgiServer, PooledProcessesAreReplacedAndACrashEndsOnlyItsCall) {
    FastAgiService service;
    ASSERT_TRUE(service.startFunction([] { return pooledService(2, 0); }));
    const std::uint16_t metrics = metricsPortOf(service);
    ASSERT_NE(metrics, 0);

    // A call in progress while another one's process dies under it.
    int held = heldCall(service.port(), {"50020"});
    ASSERT_EQ(firstCommand(held), "VERBOSE \"Agi is loaded in mode normal\" 1\n");
    int crashing = heldCall(service.port(), {"crash"});
    std::string replies;
    for (int index = 0; index < 20; ++index) replies += "200 result=1\n";
    ::send(crashing, replies.data(), replies.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(readUntilClosed(crashing));  // Asterisk's failure path
    ::close(crashing);
    ASSERT_TRUE(service.waitForLog("ended by signal 9"));

    // Other calls go on, the held one included.
    for (const char* destination : {"50002", "50003", "50004", "50005"}) {
        EXPECT_TRUE(contains(wireCall(service.port(), destination).commands,
                             "EXEC Goto ivr-exits," + std::string(destination) + ",1"));
    }
    std::string rest;
    for (int turn = 0; turn < 200 && rest.find("EXEC Goto ivr-exits,50020,1\n") == std::string::npos; ++turn) {
        ::send(held, "200 result=1\n", 13, MSG_NOSIGNAL);
        rest += firstCommand(held);
    }
    EXPECT_NE(rest.find("EXEC Goto ivr-exits,50020,1\n"), std::string::npos);
    ::send(held, "200 result=1\n200 result=1\n", 26, MSG_NOSIGNAL);
    EXPECT_TRUE(readUntilClosed(held));
    ::close(held);
    ASSERT_TRUE(service.waitForLog("destination=ivr-exits,50020,1", 1));

    // A retired process is counted once the service has reaped it.
    const std::string retired = "\nivr_call_processes_replaced_total{reason=\"calls\"} ";
    std::string text = metricsOf(metrics);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (text.find(retired) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(20));
        text = metricsOf(metrics);
    }
    EXPECT_NE(text.find("\nivr_calls_crashed_total 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nivr_call_processes_replaced_total{reason=\"crash\"} 1\n"), std::string::npos) << text;
    // Two calls per process: the four calls after the crash retired two.
    EXPECT_NE(text.find(retired), std::string::npos) << text;
    EXPECT_TRUE(service.waitForNoZombies());
    EXPECT_EQ(service.stop(), 0);
}

TEST(FastAgiServer, ProcessPastItsMemoryBoundIsReplacedAfterItsCall) {
    FastAgiService service;
    ASSERT_TRUE(service.startFunction([] { return pooledService(1000, 1); }));  // every process is past 1 byte
    const std::uint16_t metrics = metricsPortOf(service);
    ASSERT_NE(metrics, 0);
    for (const char* destination : {"50002", "50003"}) {
        EXPECT_TRUE(contains(wireCall(service.port(), destination).commands,
                             "EXEC Goto ivr-exits," + std::string(destination) + ",1"));
    }
    ASSERT_TRUE(service.waitForLog("status=0", 2));
    std::string text = metricsOf(metrics);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (text.find("{reason=\"memory\"} 2\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(50));  // the second one is reaped a moment after its call
        text = metricsOf(metrics);
    }
    EXPECT_NE(text.find("\nivr_call_processes_replaced_total{reason=\"memory\"} 2\n"), std::string::npos) << text;
    EXPECT_EQ(service.stop(), 0);
}

TEST(FastAgiServer, SigtermWithABusyPoolLetsCallsFinish) {
    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "0", "--calls-per-process", "50", "--max-calls", "4"}));
    std::vector<int> held;
    for (const char* destination : {"50020", "50021"}) {
        held.push_back(heldCall(service.port(), {destination}));
        ASSERT_EQ(firstCommand(held.back()), "VERBOSE \"Agi is loaded in mode normal\" 1\n");
    }
    service.signal(SIGTERM);
    ASSERT_TRUE(service.waitForLog("fastagi: stopping, 2 calls in progress"));
    EXPECT_LT(FastAgiClient::connectTo(service.port(), milliseconds(2000)), 0);  // nothing new is accepted
    for (int socketFd : held) {
        std::string rest;
        for (int turn = 0; turn < 200 && rest.find("EXEC Goto") == std::string::npos; ++turn) {
            ::send(socketFd, "200 result=1\n", 13, MSG_NOSIGNAL);
            rest += firstCommand(socketFd);
        }
        ::send(socketFd, "200 result=1\n200 result=1\n", 26, MSG_NOSIGNAL);
        EXPECT_TRUE(readUntilClosed(socketFd));
        ::close(socketFd);
    }
    EXPECT_EQ(service.stop(milliseconds(20000), false), 0);  // every process has left
    EXPECT_EQ(service.countInLog("destination=ivr-exits,5002"), 2u);
    EXPECT_EQ(service.zombieChildren(), 0u);
}

// --- bounds of the service: memory after a burst, a hostile metrics peer,
// label values, configuration files of other providers ----------------------

// The TCP sockets (of /proc/net/tcp and tcp6) that the process holds.
std::size_t tcpSocketsOf(pid_t pid) {
    std::set<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(TempDir::readFile(table));
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string field;
            for (int index = 0; index < 10 && fields >> field; ++index) {
            }
            inodes.insert(field);
        }
    }
    std::size_t count = 0;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
        if (target.rfind("socket:[", 0) == 0 && inodes.count(target.substr(8, target.size() - 9)) != 0) ++count;
    }
    return count;
}

std::vector<pid_t> childrenOf(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    std::istringstream words(TempDir::readFile(path));
    std::vector<pid_t> children;
    for (pid_t child; words >> child;) children.push_back(child);
    return children;
}

// Waits (bounded) until /metrics holds `line`; the last text read.
std::string waitForMetric(std::uint16_t port, const std::string& line) {
    std::string text;
    for (int attempt = 0; attempt < 400; ++attempt) {
        text = metricsOf(port);
        if (text.find("\n" + line + "\n") != std::string::npos) break;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return text;
}

TEST(FastAgiServer, PoolGivesBackItsProcessesAndEachHoldsOnlyItsOwnCall) {
    FastAgiService service;
    // No spare process: every call of the burst starts one while the
    // service holds that call's socket.
    ASSERT_TRUE(startService(service, {"--fastagi", "0", "--metrics", "0", "--spare-processes", "0",
                                       "--idle-timeout", "1", "--max-calls", "8"}));
    const std::uint16_t metrics = metricsPortOf(service);
    ASSERT_NE(metrics, 0);
    std::vector<int> held;
    for (const char* destination : {"50020", "50021", "50022", "50023"}) {
        held.push_back(heldCall(service.port(), {destination}));
        ASSERT_EQ(firstCommand(held.back()), "VERBOSE \"Agi is loaded in mode normal\" 1\n");
    }
    const std::vector<pid_t> processes = childrenOf(service.pid());
    EXPECT_EQ(processes.size(), 4u);
    for (pid_t process : processes) EXPECT_EQ(tcpSocketsOf(process), 1u) << "process " << process;

    for (int socketFd : held) ::close(socketFd);
    ASSERT_TRUE(service.waitForLog("fastagi: call ", 4));
    const std::string text = waitForMetric(metrics, "ivr_call_processes 0");
    EXPECT_NE(text.find("\nivr_call_processes 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nivr_call_processes_idle_left_total 4\n"), std::string::npos) << text;
    EXPECT_TRUE(service.waitForNoZombies());
    // A call after the pool emptied starts a process again.
    EXPECT_TRUE(contains(wireCall(service.port(), "50002").commands, "EXEC Goto ivr-exits,50002,1"));
    EXPECT_EQ(service.stop(), 0);
}

// A connection from 127.0.0.2 to the port (still a loopback address).
int connectFromSecondLoopback(std::uint16_t port) {
    int socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &source.sin_addr);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
    if (socketFd < 0 || ::bind(socketFd, reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0 ||
        (::connect(socketFd, reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0 && errno != EINPROGRESS)) {
        if (socketFd >= 0) ::close(socketFd);
        return -1;
    }
    return socketFd;
}

TEST(FastAgiServer, HealthIsAnsweredWhileAnotherPeerHoldsManyConnections) {
    // 1,000 connections need more descriptors than the usual soft limit.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 1200));
    setrlimit(RLIMIT_NOFILE, &limit);
    const std::size_t hostile = std::min<std::size_t>(1000, limit.rlim_cur - 100);

    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "0", "--metrics", "0", "--metrics-allow", "127.0.0.1",
                                       "--metrics-allow", "127.0.0.2"}));
    const std::uint16_t metrics = metricsPortOf(service);
    ASSERT_NE(metrics, 0);
    std::vector<int> idle;
    for (std::size_t index = 0; index < hostile; ++index) {
        int socketFd = connectFromSecondLoopback(metrics);
        if (socketFd >= 0) idle.push_back(socketFd);
    }
    EXPECT_EQ(idle.size(), hostile);
    for (int probe = 0; probe < 5; ++probe) {
        HttpAnswer health = httpGet(metrics, "/health");
        EXPECT_EQ(health.status, 200);
        EXPECT_EQ(health.body, "ok\n");
    }
    for (int socketFd : idle) ::close(socketFd);
    EXPECT_EQ(service.stop(), 0);

    // Outside --metrics-allow: closed without an answer.
    FastAgiService limited;
    ASSERT_TRUE(startService(limited, {"--fastagi", "0", "--metrics", "0", "--metrics-allow", "10.0.0.0/8"}));
    const std::uint16_t refusing = metricsPortOf(limited);
    ASSERT_NE(refusing, 0);
    EXPECT_EQ(httpGet(refusing, "/health").status, 0);
    EXPECT_EQ(limited.stop(), 0);
}

std::string randomExtension() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string text;
    for (int index = 0; index < 300; ++index) text += kAlphabet[std::rand() % (sizeof(kAlphabet) - 1)];
    return text;
}

std::size_t linesOf(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(FastAgiServer, DestinationLabelsAreTheExitsAndTheProfilesReplacements) {
    TempDir dir;
    const std::string config =
        dir.write("site.json", R"({"profile": {"route": [{"destinations": {"50011": "7300"}}]}})");
    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "0", "--metrics", "0", "--calls-per-process", "100"}));
    const std::uint16_t metrics = metricsPortOf(service);
    ASSERT_NE(metrics, 0);
    auto call = [&](const std::string& destination) {
        FastAgiClient client(service.port());
        client.setArguments({destination, config});
        client.setScript(scripted);
        return contains(client.run().commands, "EXEC Goto ivr-exits," + destination + ",1");
    };
    EXPECT_TRUE(call("50011"));
    EXPECT_TRUE(call("7300"));
    // A forwarding text the back office makes up anew for every call.
    for (int index = 0; index < 3; ++index) EXPECT_TRUE(call(randomExtension()));
    ASSERT_TRUE(service.waitForLog("fastagi: call ", 5));
    const std::string before = waitForMetric(metrics, "ivr_calls_ended_total{destination=\"other\"} 3");
    for (int index = 0; index < 5; ++index) EXPECT_TRUE(call(randomExtension()));
    ASSERT_TRUE(service.waitForLog("fastagi: call ", 10));
    const std::string after = waitForMetric(metrics, "ivr_calls_ended_total{destination=\"other\"} 8");
    EXPECT_NE(after.find("\nivr_calls_ended_total{destination=\"50011\"} 1\n"), std::string::npos) << after;
    EXPECT_NE(after.find("\nivr_calls_ended_total{destination=\"7300\"} 1\n"), std::string::npos) << after;
    EXPECT_NE(after.find("{destination=\"other\"} 8\n"), std::string::npos) << after;
    EXPECT_EQ(linesOf(after), linesOf(before));
    EXPECT_LT(after.size(), before.size() + 16);  // a digit or two of the counters
    EXPECT_EQ(service.stop(), 0);
}

TEST(FastAgiServer, ConfigurationsOutsideTheFolderOrOfOtherPeersAreRefused) {
    TempDir outside;
    const std::string foreign = outside.write("other.json", "{}");
    TempDir configs;
    configs.write("mine.json", R"({"allowPeers": ["127.0.0.0/8"]})");
    configs.write("theirs.json", R"({"allowPeers": ["10.0.0.0/8", "192.0.2.7"]})");
    configs.write("sub/broken.json", R"({"allowPeers": "10.0.0.0/8"})");
    ASSERT_EQ(::symlink(foreign.c_str(), configs.file("link.json").c_str()), 0);
    const std::string real = std::filesystem::canonical(configs.path()).string();

    FastAgiService service;
    ASSERT_TRUE(startService(service, {"--fastagi", "0", "--configs", configs.path()}));
    struct Case {
        std::string named;
        std::string loaded;  // empty: refused
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"mine.json", real + "/mine.json", ""},
        {configs.file("mine.json"), real + "/mine.json", ""},
        {foreign, "", "outside --configs"},
        {"../" + outside.path().substr(outside.path().rfind('/') + 1) + "/other.json", "", "the name holds \"..\""},
        {"link.json", "", "a link out of --configs"},
        {"theirs.json", "", "the peer is not in its \"allowPeers\""},
        {"sub/broken.json", "", "\"allowPeers\" is not a list of networks"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.named);
        FastAgiClient client(service.port());
        client.setArguments({"50003", each.named});
        client.setScript(scripted);
        FastAgiClient::Result result = client.run();
        EXPECT_TRUE(contains(result.commands, "EXEC Goto ivr-exits,50003,1"));
        // The module hears only of a file it may load, and of the one checked.
        std::size_t loads = 0;
        for (const std::string& command : result.commands) {
            loads += command.rfind("VERBOSE \"configuration ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(loads, each.loaded.empty() ? 0u : 1u);
        if (!each.loaded.empty()) {
            EXPECT_TRUE(contains(result.commands, "VERBOSE \"configuration " + each.loaded + "\" 1"));
        }
        if (!each.reason.empty()) {
            EXPECT_TRUE(service.waitForLog(" refused: " + each.reason)) << service.log();
        }
    }
    EXPECT_EQ(service.countInLog(" configuration "), 5u) << service.log();
    EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace tarvik::testing
