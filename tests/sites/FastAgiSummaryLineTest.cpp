// The summary line of calls the FastAGI service serves: ivr-orvel's module
// in the service's own pooled call processes (run in a child of the test,
// the system log turned to its standard error), against the simulator.
// Each call leaves its own line, and the metrics file stays unwritten.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/KestroAgiRESTFul.h"
#include "fastagi/FastAgiMode.h"
#include "runner/ModuleIvr.h"
#include "sites/orvel/OrvelV3.h"
#include "tests/support/FastAgiClient.h"
#include "tests/support/FastAgiService.h"
#include "tests/support/IvrCall.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "util/DescriptorWrite.h"
#include "util/SystemLog.h"

namespace tarvik::testing {
namespace {

// The service's standard error is the file the test reads.
void toStandardError(const char* line) {
    const std::string text = std::string("syslog: ") + line + "\n";
    writeAll(2, text.data(), text.size());
}

int runOrvelService(std::vector<std::string> arguments) {
    SystemLog::setSink(&toStandardError);
    arguments.insert(arguments.begin(), "ivr-orvel");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    OrvelV3 module;
    ModuleIvr runner;
    FastAgiMode service(&KestroAgiRESTFul::initialiseLibrary, [] { return std::make_unique<OrvelV3>(); });
    runner.setService(&service);
    return runner.execute(static_cast<int>(arguments.size()), argv.data(), module);
}

// CL-5001 by its number, and yes, send the invoice: exit 50011.
FastAgiClient::Result invoiceCall(std::uint16_t port, const std::string& configuration, const std::string& uniqueId) {
    FastAgiClient client(port);
    client.setArguments({"atendimento", configuration});
    client.setStartupVariable("agi_callerid", "11987654321");
    client.setStartupVariable("agi_uniqueid", uniqueId);
    client.setScript([](const std::string& command) -> std::string {
        if (command.rfind("GET DATA ", 0) == 0) {
            return command.find("Orvel-u4-33 ") != std::string::npos ? "200 result=1" : "200 result= (timeout)";
        }
        return ScriptedAsteriskPeer::defaultReply(command);
    });
    return client.run();
}

// The summary line of one call from the service's log, without "syslog: ".
std::string summaryOf(const std::string& log, const std::string& uniqueId) {
    const std::string start = "syslog: call uniqueid=" + uniqueId + " ";
    const std::string::size_type at = log.find(start);
    if (at == std::string::npos) return "";
    return log.substr(at + 8, log.find('\n', at) - at - 8);
}

double fieldOf(const std::string& line, const std::string& name) {
    const std::string::size_type at = line.find(" " + name + "=");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + name.size() + 2);
}

TEST(FastAgiSummaryLine, EachPooledCallLeavesItsOwnLine) {
    IvrBackOffice office({"--recall-window", "0"});
    const std::string configuration = office.writeConfig();
    FastAgiService service;
    ASSERT_TRUE(service.startFunction(
        // One process serving call after call: the second call is served
        // by the process that served the first.
        [] { return runOrvelService({"--fastagi", "127.0.0.1:0", "--calls-per-process", "4", "--max-calls", "1"}); }));

    const std::vector<std::string> ids = {"1796781000.1", "1796781000.2"};
    for (std::size_t index = 0; index < ids.size(); ++index) {
        FastAgiClient::Result call = invoiceCall(service.port(), configuration, ids[index]);
        EXPECT_TRUE(call.closedByService) << call.failure;
        ASSERT_TRUE(service.waitForLog("syslog: call uniqueid=" + ids[index] + " ")) << service.log();
        ASSERT_TRUE(service.waitForLog("fastagi: call ", index + 1)) << service.log();
    }

    const std::string log = service.log();
    std::vector<double> requests;
    for (const std::string& id : ids) {
        const std::string line = summaryOf(log, id);
        EXPECT_EQ(line.rfind("call uniqueid=" + id + " caller=11987654321 found=phone document=********725 "
                                 "contract=CT-100201 exit=50011 extension=50011 route=none seconds=",
                             0),
                  0u)
            << line;
        EXPECT_EQ(fieldOf(line, "not_delivered"), 0) << line;
        EXPECT_EQ(service.countInLog("syslog: call uniqueid=" + id + " "), 1u) << log;
        requests.push_back(fieldOf(line, "requests"));
    }
    // The same flow twice: a pooled process counts each call afresh.
    EXPECT_GT(requests[0], 2) << log;
    EXPECT_EQ(requests[0], requests[1]) << log;
    // The service counts its calls on /metrics: the file the
    // configuration names is never written.
    EXPECT_FALSE(std::filesystem::exists(office.metricsPath()));
    EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace tarvik::testing
