// The metrics file as an operator reads it: calls of ivr-orvel started as
// Asterisk starts them, and one in emulator mode, against the simulator,
// then the real node exporter's textfile collector over the file's folder.
// Skipped where the node exporter is not installed (tools/install-deps.sh
// installs it).

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/TestProcess.h"

namespace tarvik::testing {
namespace {

using std::chrono::milliseconds;

const char* const kNodeExporter = "/usr/bin/prometheus-node-exporter";

// A port nothing listens on just now (the exporter takes no port 0 it
// would tell us about); a race lost shows as the exporter leaving at once.
std::uint16_t freePort() {
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    std::uint16_t port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(probe);
    return port;
}

// HTTP/1.0, so the body comes whole, never in chunks.
std::string scrape(std::uint16_t port) {
    const std::string answer = rawHttpExchange(port, "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n",
                                               milliseconds(5000));
    if (answer.compare(0, 13, "HTTP/1.0 200 ") != 0 && answer.compare(0, 13, "HTTP/1.1 200 ") != 0) return "";
    const std::string::size_type body = answer.find("\r\n\r\n");
    return body == std::string::npos ? "" : answer.substr(body + 4);
}

double sampleValue(const std::string& exposition, const std::string& series) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, series.size() + 1, series + " ") == 0) return std::atof(line.c_str() + series.size() + 1);
    }
    return -1;
}

// The node exporter with the textfile collector alone, over `folder`.
class NodeExporter {
public:
    explicit NodeExporter(const std::string& folder) {
        for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
            const std::uint16_t port = freePort();
            TestProcess::Options options;
            options.output = TestProcess::Output::errorFile;
            process_ = std::make_unique<TestProcess>(
                std::vector<std::string>{kNodeExporter, "--web.listen-address=127.0.0.1:" + std::to_string(port),
                                         "--collector.disable-defaults", "--collector.textfile",
                                         "--collector.textfile.directory=" + folder},
                options);
            if (answers(port)) port_ = port;
        }
    }

    std::uint16_t port() const { return port_; }
    std::string log() const { return process_ ? process_->errorText() : ""; }

private:
    // Until it answers, or leaves (its port was taken), or the deadline.
    bool answers(std::uint16_t port) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!scrape(port).empty()) return true;
            int status = 0;
            if (process_->waitExit(milliseconds(50), status)) return false;
        }
        return false;
    }

    std::unique_ptr<TestProcess> process_;
    std::uint16_t port_ = 0;
};

TEST(NodeExporterTextfile, ReadsTheCountsOfTheCallsBack) {
    if (::access(kNodeExporter, X_OK) != 0) GTEST_SKIP() << kNodeExporter << " is not installed";
    IvrBackOffice office({"--recall-window", "0"});
    const std::string configuration = office.writeConfig();
    NodeExporter exporter(office.dir().path());
    ASSERT_NE(exporter.port(), 0) << exporter.log();
    EXPECT_EQ(sampleValue(scrape(exporter.port()), "ivr_calls_ended_total{destination=\"50011\"}"), -1);

    // Two as Asterisk starts them: each adds its numbers after the hand-back.
    for (const char* id : {"1796790000.1", "1796790000.2"}) {
        IvrCall call;
        call.arguments = {"atendimento", configuration};
        call.uniqueId = id;
        call.answersByPrompt["Orvel-u4-33"] = "1";
        IvrCallResult result = runIvrCall(office, call);
        EXPECT_EQ(result.lastGoto(), "EXEC Goto ivr-exits,50011,1");
    }
    // One in emulator mode, the example robot answering.
    ScriptedAsteriskPeer peer;
    ScriptedAsteriskPeer::ChildResult emulated = peer.runChild(
        {orvelProgram(), {"-e", "-r", "examples/robots/identified-by-phone.xml", "atendimento", configuration},
         IVR_SOURCE_DIR, {localHourZone(10)}, milliseconds(30000)});
    EXPECT_EQ(emulated.exitStatus, 0) << emulated.stderrText;
    EXPECT_EQ(emulated.stderrText, "");

    // The calls Asterisk started may still be finishing: wait for their count.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string text = scrape(exporter.port());
    while (sampleValue(text, "ivr_calls_ended_total{destination=\"50011\"}") < 3 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(20));
        text = scrape(exporter.port());
    }
    EXPECT_EQ(sampleValue(text, "ivr_calls_ended_total{destination=\"50011\"}"), 3) << text;
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_count"), 3) << text;
    EXPECT_EQ(sampleValue(text, "ivr_call_duration_seconds_bucket{le=\"+Inf\"}"), 3) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"ready\",outcome=\"2xx\"}"), 3) << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"find_by_phone\",outcome=\"2xx\"}"), 3)
        << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_requests_total{operation=\"send_invoice\",outcome=\"2xx\"}"), 3)
        << text;
    EXPECT_EQ(sampleValue(text, "ivr_backoffice_request_duration_seconds_count{operation=\"ready\"}"), 3) << text;
    EXPECT_EQ(sampleValue(text, "ivr_spool_records_waiting"), 0) << text;
    // The exporter took the file as it is: no error, nothing about the caller.
    EXPECT_EQ(sampleValue(text, "node_textfile_scrape_error"), 0) << text << exporter.log();
    EXPECT_EQ(text.find("11987654321"), std::string::npos);
}

}  // namespace
}  // namespace tarvik::testing
