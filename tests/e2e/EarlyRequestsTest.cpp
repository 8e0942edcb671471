// Requests started before the flow reaches them: whatever the back office
// does with them, the call says and does what it says and does with every
// request in line.

#include <csignal>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/support/IvrCall.h"

namespace tarvik::testing {
namespace {

using namespace faults;

const char* const kInLine = R"({"backgroundRecords": false, "httpTimeout": 1, "spoolDirectory": "SPOOL"})";
const char* const kEarly = R"({"backgroundRecords": true, "httpTimeout": 1, "spoolDirectory": "SPOOL"})";

std::string withSpool(const IvrBackOffice& office, std::string overrides) {
    overrides.replace(overrides.find("SPOOL"), 5, office.spoolPath());
    return office.writeConfig(overrides);
}

// The call's commands without the lines about records (they follow the
// records' own connection) and with the scratch folder named alike.
std::vector<std::string> callLines(const IvrCallResult& result, const IvrBackOffice& office) {
    const std::string folder = office.dir().file("");
    std::vector<std::string> kept;
    for (std::string command : result.commands()) {
        if (startsWith(command, "VERBOSE \"record ") || startsWith(command, "VERBOSE \"failure on set logger")) continue;
        for (std::size_t at = command.find(folder); at != std::string::npos; at = command.find(folder, at)) {
            command.replace(at, folder.size(), "DIR/");
        }
        kept.push_back(command);
    }
    return kept;
}

IvrCall invoiceCall(const std::string& config) {
    IvrCall call;
    call.arguments = {"atendimento", config};
    call.answersByPrompt["Orvel-u4-33"] = "1";
    call.deadline = std::chrono::milliseconds(60000);
    return call;
}

std::size_t count(const std::vector<JournalEntry>& journal, const std::string& operation) {
    std::size_t seen = 0;
    for (const JournalEntry& entry : journal) seen += entry.operation == operation ? 1 : 0;
    return seen;
}

// Each request now started early fails (refused with a status, its
// connection dropped, too slow) at the moment it starts or while a prompt
// plays: the call's commands are those of the same call with every request
// in line, and the caller hanging up with them in flight loses no record
// and sends none twice.
TEST(EarlyRequests, FailuresAndHangUpsMeetTheInLinePaths) {
    const std::vector<std::vector<std::string>> faults = {
        {"--status", "ticket=500"},
        {"--status", "recall-register=503", "--delay", "recall-register=300"},
        {"--drop", "recall-search"},
        {"--status", "event=500", "--delay", "event=200"},
        {"--status", "send=500", "--drop", "event"},
        {"--delay", "ticket=3000"},
    };
    for (const std::vector<std::string>& fault : faults) {
        std::string name;
        for (const std::string& part : fault) name += part + " ";
        SCOPED_TRACE(name);
        std::vector<std::string> options = {"--recall-window", "0"};
        options.insert(options.end(), fault.begin(), fault.end());
        IvrBackOffice inLineOffice(options), earlyOffice(options);
        ASSERT_GT(inLineOffice.port(), 0);
        ASSERT_GT(earlyOffice.port(), 0);
        IvrCallResult inLine = runIvrCall(inLineOffice, invoiceCall(withSpool(inLineOffice, kInLine)));
        IvrCallResult early = runIvrCall(earlyOffice, invoiceCall(withSpool(earlyOffice, kEarly)));
        // A ticket that runs out of time stops the caller's path from waiting
        // on that back office; started early, the recall pair was answered
        // before it and those answers are used.
        const bool recallAnsweredFirst = fault.back() == "ticket=3000";
        auto withoutRecall = [recallAnsweredFirst](std::vector<std::string> lines) {
            if (!recallAnsweredFirst) return lines;
            lines.erase(std::remove_if(lines.begin(), lines.end(),
                                       [](const std::string& line) { return line.find("recall") != std::string::npos; }),
                        lines.end());
            return lines;
        };
        EXPECT_EQ(early.exitStatus(), inLine.exitStatus());
        EXPECT_EQ(withoutRecall(callLines(early, earlyOffice)), withoutRecall(callLines(inLine, inLineOffice)))
            << transcript(early);
        if (fault.back() == "recall-register=300") {
            // The ticket, queued behind the slow recall pair, went on the
            // flow's own connection instead of waiting for them.
            std::vector<std::string> order;
            for (const JournalEntry& entry : early.journal) order.push_back(entry.operation);
            auto at = [&order](const char* operation) { return std::find(order.begin(), order.end(), operation) - order.begin(); };
            EXPECT_LT(at("ticket"), at("recall-search"));
        }
        for (const char* operation : {"ticket", "recall-register", "recall-search", "send"}) {
            const std::size_t expected = recallAnsweredFirst && operation[0] == 'r' ? 1 : count(inLine.journal, operation);
            EXPECT_EQ(count(early.journal, operation), expected) << operation;
        }
    }

    // A slow back office: the forward event is under way when the caller
    // hangs up while hearing where the invoice went.
    IvrBackOffice office({"--recall-window", "0", "--delay", "event=600"});
    ASSERT_GT(office.port(), 0);
    const std::string config = withSpool(office, kEarly);
    IvrCall call = invoiceCall(config);
    IvrCallResult undisturbed = runIvrCall(office, call);
    std::size_t at = 0;
    for (std::size_t index = 0; index < undisturbed.commands().size() && at == 0; ++index) {
        if (startsWith(undisturbed.commands()[index], "EXEC Background") &&
            undisturbed.commands()[index].find("Orvel-u4-19") != std::string::npos) {
            at = index + 1;
        }
    }
    ASSERT_NE(at, 0u) << transcript(undisturbed);
    call.preparePeer = [at](ScriptedAsteriskPeer& peer) {
        peer.hangUpAtCommand(at, ScriptedAsteriskPeer::HangupStyle::Network);
        peer.signalChildAtHangup(SIGHUP);
    };
    call.uniqueId = "1796777065.9";
    IvrCallResult result = runIvrCall(office, call);
    EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
    EXPECT_FALSE(result.lastGoto().empty()) << transcript(result);
    // Records are delivered after the hand-back: wait for them, bounded.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::vector<JournalEntry> mine;
    for (;;) {
        mine.clear();
        for (const JournalEntry& entry : office.journal()) {
            if (entry.bodyText.find("1796777065.9") != std::string::npos) mine.push_back(entry);
        }
        if (count(mine, "event") >= 2 || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(count(mine, "recall-register"), 1u);
    EXPECT_EQ(count(mine, "event"), 2u);  // the customer's and the forward, once each
    EXPECT_TRUE(office.spooledRecords().empty());
}

// The recall requests of a customer with several contracts and no standard
// one wait for the caller's choice, and the ticket is the chosen contract's; a recall found
// goes to its exit with the very commands of a call sending in line.
TEST(EarlyRequests, RecallWaitsForTheChoiceAndARecallFoundGoesToItsExit) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    IvrCall twoContracts;
    twoContracts.callerId = "1133335555";
    twoContracts.arguments = {"atendimento", withSpool(office, kEarly)};
    const IvrBackOffice& seen = office;
    std::size_t askedBefore = 0, checksBeforeChoice = 0;
    twoContracts.preparePeer = [&seen, &askedBefore, &checksBeforeChoice](ScriptedAsteriskPeer& peer) {
        peer.setScript([&](const std::string& command) -> std::string {
            if (!startsWith(command, "GET DATA beep")) {
                if (startsWith(command, "GET DATA ")) return "200 result= (timeout)";
                return ScriptedAsteriskPeer::defaultReply(command);
            }
            if (askedBefore++ > 0) return "200 result= (timeout)";
            const std::vector<JournalEntry> journal = seen.journal();
            checksBeforeChoice = count(journal, "ticket") + count(journal, "recall-register");
            return "200 result=2";
        });
    };
    IvrCallResult chosen = runIvrCall(office, twoContracts);
    EXPECT_GE(askedBefore, 1u);
    EXPECT_EQ(checksBeforeChoice, 0u);
    EXPECT_EQ(chosen.requests("recall-register").size(), 1u);
    ASSERT_EQ(chosen.requests("ticket").size(), 1u);
    EXPECT_EQ(chosen.requests("ticket")[0].body["contract"].asString(), "CT-100218");

    // The default recall window: a second call of the same customer is a recall.
    std::vector<std::string> inLineLines;
    for (const char* mode : {kInLine, kEarly}) {
        IvrBackOffice repeated;
        ASSERT_GT(repeated.port(), 0);
        const std::string config = withSpool(repeated, mode);
        runIvrCall(repeated, invoiceCall(config));
        IvrCallResult again = runIvrCall(repeated, invoiceCall(config));
        EXPECT_EQ(again.lastGoto(), gotoExit("50007")) << transcript(again);
        if (mode == kInLine) {
            inLineLines = callLines(again, repeated);
        } else {
            EXPECT_EQ(callLines(again, repeated), inLineLines);
        }
    }
}

}  // namespace
}  // namespace tarvik::testing
