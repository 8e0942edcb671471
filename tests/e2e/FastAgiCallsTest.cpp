#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FastAgiClient.h"
#include "tests/support/FastAgiService.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ScriptedAsteriskPeer.h"

namespace tarvik::testing {
namespace {

using std::chrono::milliseconds;

const std::string kOrvel = IVR_BINARY_DIR "/sites/orvel/ivr-orvel";
const std::string kPelion = IVR_BINARY_DIR "/sites/pelion/ivr-pelion";
const std::string kSim = IVR_BINARY_DIR "/tools/backoffice-sim/backoffice-sim";
// CL-5001 of the example customers: one connected contract with an open
// invoice; answering "1" to Orvel-u4-33 sends the invoice.
const std::string kCaller = "11987654321";
const std::string kInvoiceSent = "EXEC Goto ivr-exits,50011,1";

bool executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string answerInvoiceQuestion(const std::string& command) {
    if (command.rfind("GET DATA ", 0) == 0) {
        return command.find("Orvel-u4-33 ") != std::string::npos ? "200 result=1" : "200 result= (timeout)";
    }
    return ScriptedAsteriskPeer::defaultReply(command);
}

std::string lastGoto(const std::vector<std::string>& commands) {
    std::string found;
    for (const auto& command : commands) {
        if (command.rfind("EXEC Goto ", 0) == 0) found = command;
    }
    return found;
}

// The back-office simulator with the example customers, and an IVR
// configuration pointing at it.
class BackOffice {
public:
    BackOffice() {
        char pattern[] = "/tmp/fastagi-e2e-XXXXXX";
        if (mkdtemp(pattern) != nullptr) directory = pattern;
    }
    ~BackOffice() {
        sim.stop(milliseconds(10000));
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }

    bool start() {
        journal = directory + "/journal.jsonl";
        std::vector<std::string> arguments = {"--port", "0", "--data", IVR_SOURCE_DIR "/examples/backoffice/customers.json",
                                              "--token", "change-me", "--journal", journal, "--recall-window", "0"};
        std::string path = kSim;
        // The simulator says where it listens on standard output.
        if (!sim.startFunction([path, arguments] {
                ::dup2(STDERR_FILENO, STDOUT_FILENO);
                std::vector<std::string> texts{path};
                texts.insert(texts.end(), arguments.begin(), arguments.end());
                std::vector<char*> argv;
                for (auto& text : texts) argv.push_back(text.data());
                argv.push_back(nullptr);
                execv(argv[0], argv.data());
                return 127;
            })) {
            return false;
        }
        std::ifstream in(IVR_SOURCE_DIR "/examples/config/orvel.json");
        Json::Value config;
        in >> config;
        config["kestro"] = "http://127.0.0.1:" + std::to_string(sim.port());
        config["debug"] = directory + "/debug.log";
        configuration = directory + "/orvel.json";
        std::ofstream(configuration) << config;
        return true;
    }

    std::size_t journaled(const std::string& text) const {
        std::ifstream in(journal);
        std::size_t count = 0;
        for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos;
        return count;
    }

    std::string directory;
    std::string journal;
    std::string configuration;
    FastAgiService sim;
};

std::vector<FastAgiClient::Result> callsAtOnce(std::uint16_t port, const std::string& configuration, std::size_t count,
                                               std::size_t hangupAt = 0) {
    std::vector<FastAgiClient::Result> results(count);
    std::vector<std::thread> callers;
    for (std::size_t index = 0; index < count; ++index) {
        callers.emplace_back([&, index] {
            FastAgiClient client(port);
            client.setArguments({"atendimento", configuration, "mark::campaign:fastagi"});
            client.setStartupVariable("agi_callerid", kCaller);
            client.setStartupVariable("agi_uniqueid", "1796780000." + std::to_string(index));
            client.setScript(answerInvoiceQuestion);
            client.hangUpAtCommand(hangupAt);
            results[index] = client.run();
        });
    }
    for (auto& caller : callers) caller.join();
    return results;
}

// A listening socket on a port the kernel picked, for a program that takes
// it over (no window in which another process could take the port).
int listeningSocket(std::uint16_t& port) {
    int socketFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (socketFd < 0 || ::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(socketFd, 64) != 0 || getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (socketFd >= 0) ::close(socketFd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return socketFd;
}

// The metrics port from the service's "fastagi: metrics on ADDRESS:PORT" line.
std::uint16_t metricsPort(const FastAgiService& service) {
    if (!service.waitForLog("fastagi: metrics on ")) return 0;
    const std::string log = service.log();
    std::size_t at = log.find("fastagi: metrics on ");
    std::string line = log.substr(at, log.find('\n', at) - at);
    return static_cast<std::uint16_t>(std::atoi(line.substr(line.rfind(':') + 1).c_str()));
}

// How often the service answered `path` on its metrics endpoint.
int metricsRequests(std::uint16_t metrics, const std::string& path) {
    const std::string body = httpGet(metrics, "/metrics").body;
    const std::string series = "ivr_metrics_requests_total{path=\"" + path + "\"} ";
    const std::size_t at = body.find(series);
    return at == std::string::npos ? 0 : std::atoi(body.c_str() + at + series.size());
}

// Waits until the service answered `path` at least `count` times; false at the deadline.
bool waitForMetricsRequests(std::uint16_t metrics, const std::string& path, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (metricsRequests(metrics, path) < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

std::string findHaproxy() {
    for (const char* path : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"}) {
        if (executable(path)) return path;
    }
    return "";
}

TEST(FastAgiCalls, WholeCallsReachTheirDestinations) {
    if (!executable(kOrvel) || !executable(kPelion) || !executable(kSim)) GTEST_SKIP() << "programs not built";
    BackOffice office;
    ASSERT_TRUE(office.start());
    FastAgiService orvel;
    ASSERT_TRUE(orvel.startProgram(kOrvel, {"--fastagi", "127.0.0.1:0", "--max-calls", "20"}));

    std::vector<FastAgiClient::Result> calls = callsAtOnce(orvel.port(), office.configuration, 6);
    for (const auto& call : calls) {
        EXPECT_TRUE(call.closedByService) << call.failure;
        EXPECT_EQ(lastGoto(call.commands), kInvoiceSent);
        EXPECT_EQ(call.commands.front(), "VERBOSE \"Agi is loaded in mode normal\" 1");
    }
    ASSERT_TRUE(orvel.waitForLog("fastagi: call ", 6));
    EXPECT_EQ(orvel.countInLog("caller=" + kCaller + " "), 6u);
    EXPECT_EQ(orvel.countInLog("destination=ivr-exits,50011,1 hangup=no status=0"), 6u) << orvel.log();
    for (int index = 0; index < 6; ++index) {
        EXPECT_GE(office.journaled("1796780000." + std::to_string(index)), 1u) << index;
    }

    // The caller hangs up at the first question: Asterisk's HANGUP line
    // must not shift the replies; the call still ends in the dial plan.
    std::vector<FastAgiClient::Result> hungUp = callsAtOnce(orvel.port(), office.configuration, 1, 12);
    EXPECT_TRUE(hungUp[0].closedByService) << hungUp[0].failure;
    EXPECT_NE(lastGoto(hungUp[0].commands), "");
    ASSERT_TRUE(orvel.waitForLog("fastagi: call ", 7));
    EXPECT_EQ(orvel.countInLog("hangup=yes status=0"), 1u) << orvel.log();
    EXPECT_TRUE(orvel.waitForNoZombies());
    EXPECT_EQ(orvel.stop(), 0);

    FastAgiService pelion;
    ASSERT_TRUE(pelion.startProgram(kPelion, {"--fastagi", "0"}));
    std::vector<FastAgiClient::Result> pelionCalls = callsAtOnce(pelion.port(), office.configuration, 1);
    EXPECT_NE(lastGoto(pelionCalls[0].commands), "");
    EXPECT_EQ(pelion.stop(), 0);
}

TEST(FastAgiCalls, TwoServicesBehindHaproxy) {
    std::string haproxy = findHaproxy();
    if (haproxy.empty()) GTEST_SKIP() << "haproxy is not installed";
    if (!executable(kOrvel) || !executable(kSim)) GTEST_SKIP() << "programs not built";
    BackOffice office;
    ASSERT_TRUE(office.start());
    FastAgiService first, second;
    ASSERT_TRUE(first.startProgram(kOrvel, {"--fastagi", "127.0.0.1:0", "--metrics", "127.0.0.1:0"}));
    ASSERT_TRUE(second.startProgram(kOrvel, {"--fastagi", "127.0.0.1:0", "--metrics", "127.0.0.1:0"}));
    const std::uint16_t firstHealth = metricsPort(first);
    const std::uint16_t secondHealth = metricsPort(second);
    ASSERT_NE(firstHealth, 0);
    ASSERT_NE(secondHealth, 0);

    std::uint16_t front = 0;
    const int frontSocket = listeningSocket(front);
    ASSERT_GE(frontSocket, 0);
    std::string configPath = office.directory + "/haproxy.cfg";
    // A check waits for its answer as long as a busy machine may take: at
    // start a server is up only until its first failed check. The front
    // end is the socket made above, handed over as descriptor 3.
    std::ofstream(configPath) << "global\n"
                                 "    maxconn 200\n"
                                 "defaults\n"
                                 "    mode tcp\n"
                                 "    timeout connect 2s\n"
                                 "    timeout check 10s\n"
                                 "    timeout client 1h\n"
                                 "    timeout server 1h\n"
                                 "frontend fastagi\n"
                                 "    bind fd@3\n"
                                 "    default_backend ivr\n"
                                 "backend ivr\n"
                                 "    balance roundrobin\n"
                                 "    option httpchk GET /health\n"
                                 "    http-check expect status 200\n"
                                 "    server ivr1 127.0.0.1:"
                              << first.port() << " check port " << firstHealth
                              << " inter 200ms maxconn 100\n"
                                 "    server ivr2 127.0.0.1:"
                              << second.port() << " check port " << secondHealth
                              << " inter 200ms maxconn 100\n";
    FastAgiService balancer;
    // The front end listens already: callers queue there until haproxy takes them.
    ASSERT_TRUE(balancer.startFunction([haproxy, configPath, front, frontSocket]() -> int {
        pid_t proxy = fork();
        if (proxy == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test's handle on it
            if (::dup2(frontSocket, 3) != 3) _exit(127);
            execl(haproxy.c_str(), haproxy.c_str(), "-db", "-f", configPath.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::string line = "listening on 127.0.0.1:" + std::to_string(front) + "\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size());
        int status = 0;
        while (waitpid(proxy, &status, 0) < 0 && errno == EINTR) {
        }
        return 0;
    }));
    ::close(frontSocket);
    ASSERT_EQ(balancer.port(), front);
    // Health checks go to /health. Three answered there mean haproxy took at
    // least two of them in: the server is then fully up, no longer one
    // failed check away from being taken out.
    ASSERT_TRUE(waitForMetricsRequests(firstHealth, "/health", 3));
    ASSERT_TRUE(waitForMetricsRequests(secondHealth, "/health", 3));

    std::vector<FastAgiClient::Result> calls = callsAtOnce(front, office.configuration, 10);
    for (const auto& call : calls) {
        EXPECT_TRUE(call.closedByService) << call.failure;
        EXPECT_EQ(lastGoto(call.commands), kInvoiceSent);
    }
    // Round robin: each service took calls. Each call's process writes its
    // line as it ends, a moment after the caller saw the connection close.
    const std::string served = "destination=ivr-exits,50011,1";
    ASSERT_TRUE(first.waitForLog(served, 1));
    ASSERT_TRUE(second.waitForLog(served, 1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (first.countInLog(served) + second.countInLog(served) < 10u && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_EQ(first.countInLog(served) + second.countInLog(served), 10u);
    // Health checks never reach the call port: no log noise.
    EXPECT_EQ(first.countInLog("ended:"), 0u) << first.log();
    EXPECT_EQ(second.countInLog("ended:"), 0u) << second.log();
    balancer.stop(milliseconds(10000));  // its haproxy dies with it
    EXPECT_EQ(first.stop(), 0);
    EXPECT_EQ(second.stop(), 0);
}

}  // namespace
}  // namespace tarvik::testing
