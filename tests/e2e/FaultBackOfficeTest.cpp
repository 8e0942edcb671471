// Whole calls of ivr-orvel against a back office that fails: unreachable,
// too slow, dropping connections, answering errors, HTML, broken or huge
// bodies. Each call must still end at the exit its situation calls for, and
// every remote log entry and event it sent must have reached the back office.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/support/IvrCall.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

using namespace faults;

// A JSON answer that would be accepted if it were read in full, padded past
// what the client takes (16 MiB).
std::string hugeJson(const std::string& members) {
    return "{" + members + ",\"pad\":\"" + std::string(20u << 20, 'x') + "\"}";
}

const std::string kCustomer = "11987654321";  // CL-5001: connected, one open invoice
const std::string kDocument = "52998224725";  // its CPF
const std::string kBlockedCaller = "11976543210";  // CL-5005: blocked, may be unlocked

struct FaultCase {
    std::string name;
    std::vector<std::string> simOptions;  // "@name" stands for a body file of the case
    std::string configOverrides = "{}";
    std::string caller = kCustomer;
    std::map<std::string, std::string> answers;
    std::string exitKey;
    std::vector<std::string> remoteLog;  // event types the back office must have received
    std::string program = orvelProgram();
    // Event types of the remote log entries left in the spool; when set,
    // the back office may or may not have seen an exchange that ran out of
    // time, and the spool is what is checked.
    std::vector<std::string> spooledLog = {};
};

void runFaultCases(const std::vector<FaultCase>& cases) {
    // Answer bodies, written when a case first names them.
    TempDir bodies;
    const std::map<std::string, std::pair<std::string, std::string>> contents = {
        {"@html", {"error.html", "<html><body><h1>502 Bad Gateway</h1></body></html>\n"}},
        {"@truncated-ready", {"truncated-ready.json", "{\"state\":\"rea"}},
        {"@truncated-client", {"truncated-client.json", "{\"document\":\"52998224725\",\"signatures\":[{"}},
        {"@huge-ready", {"huge-ready.json", hugeJson("\"state\":\"ready\"")}},
        {"@huge-client", {"huge-client.json", hugeJson("\"document\":\"52998224725\"")}},
    };
    std::map<std::string, std::string> files;
    auto bodyFile = [&](const std::string& name) {
        if (files.count(name) == 0) files[name] = bodies.write(contents.at(name).first, contents.at(name).second);
        return files[name];
    };
    for (const FaultCase& fault : cases) {
        SCOPED_TRACE(fault.name);
        std::vector<std::string> options = {"--recall-window", "0"};
        for (const std::string& option : fault.simOptions) {
            std::string::size_type at = option.find('@');
            options.push_back(at == std::string::npos ? option : option.substr(0, at) + bodyFile(option.substr(at)));
        }
        IvrBackOffice office(options);
        RefusingPort closedPort;
        std::string overrides = fault.configOverrides;
        std::string::size_type closed = overrides.find("CLOSED_PORT");
        if (closed != std::string::npos) overrides.replace(closed, 11, std::to_string(closedPort.port()));

        IvrCall call;
        call.program = fault.program;
        call.arguments = {"atendimento", office.writeConfig(overrides)};
        call.callerId = fault.caller;
        call.answersByPrompt = fault.answers;
        call.deadline = std::chrono::milliseconds(60000);
        IvrCallResult result = runIvrCall(office, call);

        EXPECT_EQ(result.exitStatus(), 0);
        EXPECT_EQ(result.lastGoto(), gotoExit(fault.exitKey)) << transcript(result);
        expectOnlyProgramCommands(result.commands());
        // A request is sent once. The one exception is libcurl's single
        // retry when a kept-alive connection closes without any answer: that
        // is how an idle connection the back office timed out looks, and
        // then the request never reached it. A back office that takes the
        // request and drops the connection unanswered may see it twice.
        const bool dropsConnections =
            std::find(fault.simOptions.begin(), fault.simOptions.end(), "--drop") != fault.simOptions.end();
        std::map<std::string, int> deliveries;
        for (const JournalEntry& entry : result.journal) {
            if (entry.method == "GET") continue;
            int count = ++deliveries[entry.operation + " " + entry.bodyText];
            EXPECT_LE(count, dropsConnections ? 2 : 1) << entry.operation << " received again: " << entry.bodyText;
        }
        // What the call reported, each request counted once.
        std::set<std::string> seen;
        std::vector<JournalEntry> reported;
        for (const JournalEntry& entry : result.journal) {
            if (entry.method == "GET" || seen.insert(entry.operation + " " + entry.bodyText).second) {
                reported.push_back(entry);
            }
        }
        result.journal = reported;
        if (!fault.spooledLog.empty()) {
            EXPECT_EQ(office.spooledLogTypes(), fault.spooledLog);
            continue;
        }
        EXPECT_EQ(remoteLogTypes(result), fault.remoteLog);
        if (!fault.remoteLog.empty()) {
            EXPECT_EQ(forwardedKey(result), fault.exitKey);
        }
    }
}

const std::vector<std::string> kNotReadyLog = {"authenticated", "trace", "forward"};

TEST(FaultBackOffice, NotReadyBackOfficeSendsACustomerToServerNotReady) {
    const std::map<std::string, std::string> typesDocument = {{"Orvel-u4-04", kDocument}};
    runFaultCases({
        // Nothing reaches a refusing back office; its records wait in the spool.
        {"connection refused", {}, R"({"kestro": "http://127.0.0.1:CLOSED_PORT"})", kCustomer, typesDocument, "50003",
         {}, orvelProgram(), kNotReadyLog},
        // Once an exchange ran out of time the call stops waiting: the
        // records go to the spool at once.
        {"slower than httpTimeout", {"--delay-ms", "3000"}, R"({"httpTimeout": 1, "httpConnectTimeout": 1})",
         kCustomer, typesDocument, "50003", {}, orvelProgram(), kNotReadyLog},
        {"readiness dropped", {"--drop", "ready"}, "{}", kCustomer, typesDocument, "50003", kNotReadyLog},
        {"readiness 503 HTML page", {"--status", "ready=503", "--body", "ready=@html"}, "{}", kCustomer,
         typesDocument, "50003", kNotReadyLog},
        {"readiness truncated JSON", {"--body", "ready=@truncated-ready"}, "{}", kCustomer, typesDocument, "50003",
         kNotReadyLog},
        {"readiness 20 MiB", {"--body", "ready=@huge-ready"}, "{}", kCustomer, typesDocument, "50003",
         kNotReadyLog},
        {"pelion, readiness dropped", {"--drop", "ready"}, "{}", kCustomer, {{"Orvel-u4-04", "2"}}, "50003",
         kNotReadyLog, pelionProgram()},
    });
}

TEST(FaultBackOffice, FailingLookupsEndAtClientNotFound) {
    // Not found by phone, then the document typed at the first question and
    // at both repetitions, every lookup failing.
    const std::map<std::string, std::string> typesDocument = {{"Orvel-u4-04", kDocument},
                                                               {"Orvel-u4-06", kDocument}};
    const std::vector<std::string> log = {"authenticated", "trace", "retry-limits-reached", "forward"};
    runFaultCases({
        {"lookups dropped", {"--drop", "phone", "--drop", "document"}, "{}", kCustomer, typesDocument, "50005", log},
        {"lookups 500 HTML page",
         {"--status", "phone=500", "--body", "phone=@html", "--status", "document=500", "--body", "document=@html"},
         "{}", kCustomer, typesDocument, "50005", log},
        {"lookups truncated JSON", {"--body", "phone=@truncated-client", "--body", "document=@truncated-client"}, "{}",
         kCustomer, typesDocument, "50005", log},
        {"lookups 20 MiB", {"--body", "phone=@huge-client", "--body", "document=@huge-client"}, "{}", kCustomer,
         typesDocument, "50005", log},
        {"pelion, lookups 500 HTML page",
         {"--status", "phone=500", "--body", "phone=@html", "--status", "document=500", "--body", "document=@html"},
         "{}", kCustomer, {{"Orvel-u4-04", "2"}, {"Orvel-u4-05", kDocument}, {"Orvel-u4-06", kDocument}}, "50005", log,
         pelionProgram()},
    });
}

TEST(FaultBackOffice, FailingReportsAndContractOperationsKeepTheirExits) {
    const std::map<std::string, std::string> wantsInvoice = {{"Orvel-u4-33", "1"}};
    const std::vector<std::string> invoiceLog = {"authenticated", "trace", "found", "selected", "send-notification",
                                                 "forward"};
    const std::map<std::string, std::string> acceptsUnlock = {{"Orvel-u4-23", "2"}, {"Orvel-u4-25", "1"}};
    const std::vector<std::string> unlockLog = {"authenticated", "trace", "found", "selected", "request-unlock",
                                                "forward"};
    runFaultCases({
        // The remote log and events never change the call.
        {"events and remote log 500", {"--status", "event=500", "--status", "logger=500", "--body", "logger=@html"},
         "{}", kCustomer, wantsInvoice, "50011", invoiceLog},
        // A failed invoice sending is not noticed by the caller.
        {"invoice sending 503", {"--status", "send=503", "--body", "send=@html"}, "{}", kCustomer, wantsInvoice,
         "50011", invoiceLog},
        // A failed trust unlock is.
        {"unlock 500", {"--status", "unlock=500"}, "{}", kBlockedCaller, acceptsUnlock, "50019", unlockLog},
    });
}

// The back office closes the connection without answering, after it has
// received the request: the call goes on as for any failure, and the
// request, which may have been carried out, is not sent a second time.
TEST(FaultBackOffice, DroppedConnectionsAreRetriedAtMostOnce) {
    const std::map<std::string, std::string> wantsInvoice = {{"Orvel-u4-33", "1"}};
    const std::vector<std::string> invoiceLog = {"authenticated", "trace", "found", "selected", "send-notification",
                                                 "forward"};
    const std::map<std::string, std::string> acceptsUnlock = {{"Orvel-u4-23", "2"}, {"Orvel-u4-25", "1"}};
    runFaultCases({
        {"remote log dropped", {"--drop", "logger"}, "{}", kCustomer, wantsInvoice, "50011", invoiceLog},
        {"events dropped", {"--drop", "event"}, "{}", kCustomer, wantsInvoice, "50011", invoiceLog},
        {"invoice sending dropped", {"--drop", "send"}, "{}", kCustomer, wantsInvoice, "50011", invoiceLog},
        {"unlock dropped", {"--drop", "unlock"}, "{}", kBlockedCaller, acceptsUnlock, "50019",
         {"authenticated", "trace", "found", "selected", "request-unlock", "forward"}},
    });
}

}  // namespace
}  // namespace tarvik::testing
