#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "api/BackOfficeTable.h"
#include "fastagi/FastAgiCallRecord.h"
#include "fastagi/FastAgiNetwork.h"
#include "fastagi/FastAgiOptions.h"
#include "fastagi/FastAgiSession.h"
#include "fastagi/FastAgiStartupGate.h"
#include "fastagi/ServiceCapacity.h"
#include "util/CText.h"

namespace tarvik::testing {
namespace {

sockaddr_storage addressOf(const char* text) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
    } else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
    }
    return storage;
}

bool allows(const FastAgiOptions& options, const char* peer) {
    sockaddr_storage address = addressOf(peer);
    return options.isAllowed(reinterpret_cast<sockaddr*>(&address));
}

// A connected pair of loopback TCP sockets: [0] plays Asterisk, [1] the IVR.
struct TcpPair {
    int asterisk = -1;
    int ivr = -1;
    TcpPair() {
        int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(listener);
            return;
        }
        asterisk = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(asterisk, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            ivr = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
        ::close(listener);
    }
    ~TcpPair() {
        if (asterisk >= 0) ::close(asterisk);
        if (ivr >= 0) ::close(ivr);
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(asterisk, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string received() const {
        std::string text;
        char chunk[4096];
        ssize_t got;
        while ((got = ::recv(asterisk, chunk, sizeof(chunk), MSG_DONTWAIT)) > 0) text.append(chunk, got);
        return text;
    }
};

TEST(FastAgiOptions, ReadsListenAddressesLimitsAndNetworks) {
    FastAgiOptions options;
    EXPECT_EQ(options.address, "127.0.0.1");  // loopback unless told otherwise
    EXPECT_TRUE(options.setListen("4600"));
    EXPECT_EQ(options.address, "127.0.0.1");
    EXPECT_EQ(options.port, 4600);
    EXPECT_TRUE(options.setListen("0.0.0.0:4573"));
    EXPECT_EQ(options.address, "0.0.0.0");
    EXPECT_TRUE(options.setListen("[::1]:0"));
    EXPECT_EQ(options.address, "::1");
    EXPECT_EQ(options.port, 0);
    for (const char* bad : {"", "x", "65536", "host:4573", "1.2.3.4:", ":4573", "[::1]4573", "-1", "4573 "}) {
        EXPECT_FALSE(options.setListen(bad)) << bad;
    }
    EXPECT_EQ(options.address, "::1");  // a refused text changes nothing

    // The metrics endpoint stays on loopback whatever the call address.
    EXPECT_FALSE(options.metricsEnabled);
    EXPECT_TRUE(options.setMetrics("9464"));
    EXPECT_TRUE(options.metricsEnabled);
    EXPECT_EQ(options.metricsAddress, "127.0.0.1");
    EXPECT_EQ(options.metricsPort, 9464);
    EXPECT_TRUE(options.setMetrics("[::]:0"));
    EXPECT_EQ(options.metricsAddress, "::");
    EXPECT_FALSE(options.setMetrics("localhost:9464"));
    EXPECT_EQ(options.metricsAddress, "::");

    EXPECT_TRUE(options.setMaxCalls("3"));
    EXPECT_EQ(options.maxCalls, 3u);
    for (const char* bad : {"0", "", "-2", "2x", "99999999999"}) EXPECT_FALSE(options.setMaxCalls(bad)) << bad;
    EXPECT_EQ(options.callsPerProcess, 1000u);
    EXPECT_TRUE(options.setCallsPerProcess("1"));
    EXPECT_EQ(options.callsPerProcess, 1u);
    for (const char* bad : {"0", "", "x", "-1"}) EXPECT_FALSE(options.setCallsPerProcess(bad)) << bad;

    EXPECT_TRUE(allows(options, "203.0.113.9"));  // no list: anyone
    EXPECT_TRUE(options.addAllowed("10.1.0.0/16"));
    EXPECT_TRUE(options.addAllowed("192.0.2.7"));
    EXPECT_TRUE(options.addAllowed("fd00::/8"));
    for (const char* bad : {"10.0.0.0/33", "10.0.0.0/", "10.0.0/8", "fd00::/129", "any", "10.0.0.0/8x"}) {
        EXPECT_FALSE(options.addAllowed(bad)) << bad;
    }
    EXPECT_TRUE(allows(options, "10.1.255.3"));
    EXPECT_FALSE(allows(options, "10.2.0.1"));
    EXPECT_TRUE(allows(options, "192.0.2.7"));
    EXPECT_FALSE(allows(options, "192.0.2.8"));
    EXPECT_TRUE(allows(options, "fd12::1"));
    EXPECT_FALSE(allows(options, "fe80::1"));
    EXPECT_TRUE(allows(options, "::ffff:10.1.2.3"));  // a dual-stack listener's view of IPv4
    EXPECT_FALSE(allows(options, "::ffff:10.9.2.3"));

    FastAgiNetwork odd;
    ASSERT_TRUE(odd.parse("172.16.0.0/12"));
    sockaddr_storage inside = addressOf("172.31.255.255");
    sockaddr_storage outside = addressOf("172.32.0.0");
    EXPECT_TRUE(odd.contains(reinterpret_cast<sockaddr*>(&inside)));
    EXPECT_FALSE(odd.contains(reinterpret_cast<sockaddr*>(&outside)));
}

TEST(BackOfficeTable, NamesOperationsWithoutTheCallersData) {
    const std::string base = "https://bo.example.net:8443/service/v1";
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/ready"), "ready");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/isp/orvel/7/phone/11987654321"), "find_by_phone");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/isp/orvel/7/document/52998224725?x=1"), "find_by_document");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/isp/orvel/7/send"), "send_invoice");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/recall/meta/register"), "recall_register");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/logger"), "log");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl(base + "/somewhere/11987654321"), "other");
    EXPECT_EQ(BackOfficeTable::metricNameOfUrl("not a url"), "other");
}

TEST(FastAgiStartupGate, WaitsForTheWholeBlockWithinTimeAndSize) {
    using std::chrono::milliseconds;
    // Only the block that never ends waits out its time; every other verdict
    // must come long before a time a busy machine could use up.
    FastAgiStartupGate gate(milliseconds(20000), 64);
    FastAgiStartupGate impatient(milliseconds(400), 64);

    {  // trickled in pieces, but complete in time: left unread for the session
        TcpPair pair;
        std::thread feeder([&] {
            for (const char* piece : {"agi_network: yes\n", "agi_arg_1: 500", "01\n", "\n"}) {
                std::this_thread::sleep_for(milliseconds(30));
                pair.send(piece);
            }
        });
        EXPECT_EQ(gate.wait(pair.ivr), FastAgiStartupGate::Verdict::ready);
        feeder.join();
        char first[4] = {};
        EXPECT_EQ(::recv(pair.ivr, first, 3, 0), 3);
        EXPECT_STREQ(first, "agi");
    }
    {  // never finished
        TcpPair pair;
        pair.send("agi_network: yes\n");
        EXPECT_EQ(impatient.wait(pair.ivr), FastAgiStartupGate::Verdict::timedOut);
    }
    {  // bigger than the limit, with or without its end
        TcpPair pair;
        pair.send(std::string(70, 'x') + "\n\n");
        EXPECT_EQ(gate.wait(pair.ivr), FastAgiStartupGate::Verdict::tooLong);
    }
    {  // exactly the limit still passes
        TcpPair pair;
        pair.send(std::string(62, 'x') + "\n\n");
        EXPECT_EQ(gate.wait(pair.ivr), FastAgiStartupGate::Verdict::ready);
    }
    {  // a health check: connected and gone without a byte
        TcpPair pair;
        ::shutdown(pair.asterisk, SHUT_WR);
        EXPECT_EQ(gate.wait(pair.ivr), FastAgiStartupGate::Verdict::probe);
    }
    {  // the peer goes away half-way
        TcpPair pair;
        pair.send("agi_network: yes\n");
        ::shutdown(pair.asterisk, SHUT_WR);
        EXPECT_EQ(gate.wait(pair.ivr), FastAgiStartupGate::Verdict::closed);
    }
}

TEST(FastAgiSession, HangupLineOverTcpIsNoticedAndSkipped) {
    TcpPair pair;
    ASSERT_GE(pair.ivr, 0);
    // Everything Asterisk sends, in order: the block, then one reply per
    // command, with the unsolicited HANGUP line right after "200 result=-1".
    pair.send(
        "agi_network: yes\nagi_network_script: ivr-orvel\nagi_uniqueid: 1796777142.29\n"
        "agi_callerid: 5511999990000\nagi_version: 22.10.1\nagi_arg_1: 50001\nagi_arg_2: conf.json\n"
        "agi_arg_3: \nagi_arg_5: skipped\n\n"
        "200 result=-1\nHANGUP\n"          // GET DATA, then the notice
        "200 result=1\n"                   // VERBOSE Real Asterisk Data Received
        "200 result=1\n"                   // VERBOSE Failure on get...
        "200 result=1 (bar)\n"             // GET VARIABLE FOO
        "200 result=1\n200 result=1\n"     // its two VERBOSE lines
        "200 result=0\n");                 // EXEC Goto
    FastAgiCallRecord record("127.0.0.1:5000");
    {
        FastAgiSession session(pair.ivr, record);
        EXPECT_EQ(FastAgiSession::startupArguments(session),
                  (std::vector<std::string>{"50001", "conf.json", ""}));
        EXPECT_STREQ(session.getAsteriskVariable("agi_network_script"), "ivr-orvel");
        EXPECT_FALSE(session.isHangupNotified());

        CText digits(session.input("document", 14, 5, "prompt", 1));
        EXPECT_EQ(digits.get(), nullptr);  // "-1": the caller is gone
        EXPECT_TRUE(session.isHangupNotified());
        CText value(session.getVariable("FOO"));
        ASSERT_NE(value.get(), nullptr);
        EXPECT_STREQ(value.get(), "bar");  // not shifted by the HANGUP line
        EXPECT_TRUE(session.goTo("ivr-exits", "50009", "1"));
    }
    ::shutdown(pair.ivr, SHUT_WR);
    std::string sent = pair.received();
    EXPECT_NE(sent.find("GET DATA prompt 5000 14\n"), std::string::npos) << sent;
    EXPECT_NE(sent.find("EXEC Goto ivr-exits,50009,1\n"), std::string::npos) << sent;

    std::string line = record.finish(0);
    EXPECT_NE(line.find("peer=127.0.0.1:5000 uniqueid=1796777142.29 caller=5511999990000 "), std::string::npos)
        << line;
    EXPECT_NE(line.find(" destination=ivr-exits,50009,1 hangup=yes status=0\n"), std::string::npos) << line;
}

TEST(FastAgiCallRecord, KeepsPeerTextsToOnePlainLine) {
    FastAgiCallRecord record("[::1]:4000");
    record.setCaller("55 11\n9999\x01");
    record.setUniqueId("");
    std::string line = record.finish(1);
    EXPECT_NE(line.find("uniqueid=- caller=55_11_9999_ "), std::string::npos) << line;
    EXPECT_NE(line.find("destination=- hangup=no status=1\n"), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(record.refuse("start-up block too long"), "fastagi: call peer=[::1]:4000 ended: start-up block too long\n");
}

}  // namespace
}  // namespace tarvik::testing

namespace tarvik::testing {
namespace {

TEST(ServiceCapacity, SaysWhichLimitMaxCallsDoesNotFitAndHowManyCallsItCarries) {
    // The shipped unit's figures fit the shipped --max-calls 200.
    EXPECT_EQ(ServiceCapacity::shortfall(200, 1416, 1024), "");
    EXPECT_EQ(ServiceCapacity::shortfall(200, 0, 0), "");  // limits unknown: nothing to say
    EXPECT_EQ(ServiceCapacity::shortfall(200, 1024, 1024),
              "fastagi: max_calls=200 does not fit: tasks limit 1024 (TasksMax) carries about 144 calls, 1416 needed");
    EXPECT_EQ(ServiceCapacity::shortfall(1000, 10, 256),
              "fastagi: max_calls=1000 does not fit: tasks limit 10 (TasksMax) carries about 0 calls, 7016 needed; "
              "descriptor limit 256 (LimitNOFILE) carries about 88 calls, 2080 needed");

    // The shipped unit's limits are those its own --max-calls needs.
    std::ifstream in(IVR_SOURCE_DIR "/examples/systemd/ivr-orvel-fastagi.service");
    std::stringstream unit;
    unit << in.rdbuf();
    const std::string text = unit.str();
    std::smatch calls, tasks, files;
    ASSERT_TRUE(std::regex_search(text, calls, std::regex("\nExecStart=[^\n]*--max-calls ([0-9]+)")));
    ASSERT_TRUE(std::regex_search(text, tasks, std::regex("\nTasksMax=([0-9]+)")));
    ASSERT_TRUE(std::regex_search(text, files, std::regex("\nLimitNOFILE=([0-9]+)")));
    const std::size_t maxCalls = std::stoul(calls[1]);
    EXPECT_EQ(std::stoul(tasks[1]), ServiceCapacity::tasksNeeded(maxCalls));
    EXPECT_EQ(std::stoul(files[1]), std::max<std::size_t>(1024, ServiceCapacity::descriptorsNeeded(maxCalls)));
}

}  // namespace
}  // namespace tarvik::testing
