// Texts that come from the back office (service address, end of
// maintenance, protocol number, forwarding, marks) reach Asterisk commands,
// messages and later requests. Whatever they carry, they must stay plain
// text: never a second AGI command or an extra HTTP header, never a format,
// and the call still ends at its destination with everything reported.

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/support/IvrCall.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

using namespace faults;

const std::string kCaller = "11911110000";

Json::Value contract(const std::string& id, const std::string& address, const std::string& text) {
    Json::Value invoice;
    invoice["id"] = "FT-6001";
    invoice["number"] = "00006001";
    invoice["dueDate"] = "2026-12-18";
    invoice["price"] = 99.9;
    invoice["originalPrice"] = 99.9;
    invoice["pdf"] = "https://boletos.exemplo.com.br/FT-6001.pdf";
    invoice["barCode"] = "49208312402344834782450400088387371678684335326";
    Json::Value signature;
    signature["id"] = id;
    signature["addressNumber"] = address;
    signature["state"] = "connected";
    signature["blocked"] = false;
    signature["canUnlock"] = true;
    signature["underMaintenance"] = true;
    signature["endOfMaintenance"] = text;
    signature["forwarding"] = text;
    signature["overdueInvoices"] = Json::Value(Json::arrayValue);
    signature["invoices"].append(invoice);
    return signature;
}

// One customer, found by kCaller, whose every free text is `text`.
std::string hostileCustomers(const std::string& text) {
    Json::Value customer;
    customer["id"] = "CL-6001";
    customer["name"] = text;
    customer["document"] = "52998224725";
    customer["emails"] = Json::Value(Json::arrayValue);
    customer["phones"].append(kCaller);
    customer["marks"][text] = text;
    customer["marks"]["header-lumora"] = text;
    customer["externalId"] = text;
    customer["signatures"].append(contract("CT-6001", text, text));
    customer["signatures"].append(contract("CT-6002", "12" + text, text));
    Json::Value root;
    root["customers"].append(customer);
    Json::StreamWriterBuilder writer;
    return Json::writeString(writer, root);
}

// `expected` as it travels on an AGI line: line breaks as spaces, and cut
// at the line limit.
bool sentAsLine(const IvrCallResult& result, const std::string& expected) {
    std::string line = onOneLine(expected);
    for (const std::string& command : result.commands()) {
        if (command == line) return true;
        if (command.size() + 4 >= kMaxAgiLine && startsWith(line, command)) return true;
    }
    return false;
}

const std::set<std::string> kRequestHeaders = {"Accept", "Addon-Lumora", "Content-Length", "Content-Type", "Expect",
                                               "Host", "PreAuthorization", "x-ivr-phone", "x-ivr-plugin-driver",
                                               "x-ivr-plugin-id", "x-ivr-protocol"};

TEST(HostileBackOffice, BackOfficeTextsStayPlainText) {
    struct Case {
        std::string name;
        std::string text;
    };
    // The long text passes the AGI line limit and the 4 KiB formatting
    // buffer, yet every request body stays below what the simulator accepts.
    const std::vector<Case> cases = {
        {"line breaks, a command and a header", "7001\r\nHANGUP\r\nEXEC Goto pwned,666,1\r\nX-Injected: 1"},
        {"quotes and backslashes", "\"7001\" 1 \\\" VERBOSE \\\\\"pwned"},
        {"format sequences", "%n%s%n%x%p%.99999d%%"},
        {"path and query", "../../../ready?token=x#frag"},
        {"7 KB", std::string(7000, '9') + "\"%n%s\r\nHANGUP"},
    };
    for (const Case& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        const std::string& text = hostile.text;
        TempDir fixture;
        std::string customers = fixture.write("customers.json", hostileCustomers(text));
        IvrBackOffice office({"--recall-window", "0", "--data", customers});
        ASSERT_GT(office.port(), 0);
        IvrCall call;
        call.arguments = {"atendimento", office.writeConfig()};
        call.callerId = kCaller;
        // No choice of address (the first is taken and spoken whole), then
        // "send the protocol number".
        call.answersInOrder = {"", "", "", "2"};
        IvrCallResult result = runIvrCall(office, call);

        EXPECT_EQ(result.exitStatus(), 0);
        expectOnlyProgramCommands(result.commands());

        // The forwarding is the destination, as one Goto argument text.
        EXPECT_TRUE(sentAsLine(result, "EXEC Goto ivr-exits," + text + ",1")) << transcript(result);
        EXPECT_TRUE(startsWith(result.lastGoto(), "EXEC Goto ivr-exits,")) << result.lastGoto();
        for (const std::string& command : result.commands()) {
            EXPECT_FALSE(startsWith(command, "HANGUP") || startsWith(command, "EXEC Goto pwned") ||
                         startsWith(command, "X-Injected"))
                << command;
        }

        // Texts appear literally in the messages and commands.
        for (const std::string& message :
             {"found new mark: '" + text + "'->'" + text + "'", "client was found, address used in this call " + text,
              "protocol is: " + text, "protocol sent: '" + text + "'"}) {
            EXPECT_TRUE(loggedLiterally(result.commands(), onOneLine(message))) << message.substr(0, 100);
        }
        EXPECT_TRUE(sentAsLine(result, "SAY NUMBER " + text + " #"));  // the first address, spoken whole
        EXPECT_EQ(std::count_if(result.commands().begin(), result.commands().end(),
                                [](const std::string& command) { return startsWith(command, "SAY DIGITS "); }),
                  static_cast<long>(text.size()));  // the protocol, one character at a time

        // The back office got the texts back literally, and no header was
        // made of them.
        for (const JournalEntry& entry : result.journal) {
            for (const auto& header : entry.headers) {
                EXPECT_EQ(kRequestHeaders.count(header.first), 1u) << "injected header " << header.first;
            }
            if (entry.headers.count("Addon-Lumora") != 0) {
                std::string sent = entry.headers.at("Addon-Lumora");
                std::string clean = text;
                clean.erase(std::remove_if(clean.begin(), clean.end(), [](char c) { return c == '\r' || c == '\n'; }),
                            clean.end());
                EXPECT_TRUE(sent == clean || (sent.size() > 4000 && startsWith(clean, sent))) << sent.substr(0, 100);
            }
        }
        ASSERT_EQ(result.requests("protocol").size(), 1u) << transcript(result);
        EXPECT_EQ(result.requests("protocol")[0].body["protocol"].asString(), text);
        EXPECT_EQ(result.requests("recall-register").size(), 1u);
        EXPECT_EQ(forwardedKey(result), text);
        std::vector<std::string> log = remoteLogTypes(result);
        EXPECT_EQ(log, (std::vector<std::string>{"authenticated", "trace", "found", "selected", "forward"}));
    }
}

}  // namespace
}  // namespace tarvik::testing
