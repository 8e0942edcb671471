// Whole calls of ivr-orvel and ivr-pelion as real processes, Asterisk played
// over pipes and the back office played by the simulator with the example
// customers and the example configuration.

#include <gtest/gtest.h>

#include <algorithm>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/CallExpectations.h"
#include "tests/support/IvrCall.h"

namespace tarvik::testing::e2e {
namespace {

const std::string kBusiness = "/usr/share/tarvik-kestro-ivr/audios/";  // the profile's audio for type pj
const std::string kIsp = "/service/v1/isp/demo/1";
// The example profile's extensions and the keys they replace.
const std::map<std::string, std::string> kRoutedKeys = {{"7000", "50005"}, {"7100", "50021"}, {"7200", "50007"}};

std::string ask(const std::string& prompt, int timeoutMs, int digits) {
    return "GET DATA " + kAudios + prompt + " " + std::to_string(timeoutMs) + " " + std::to_string(digits);
}
std::string goTo(const std::string& extension) { return "EXEC Goto ivr-exits," + extension + ",1"; }

struct CallCase {
    std::string name;
    std::string program;
    std::string caller;
    std::map<std::string, std::string> answers;  // by prompt
    std::vector<std::string> marks;              // further arguments
    std::string exit;                            // the extension the call is sent to
    std::vector<std::string> commands;           // sent in this order (others between)
    std::vector<std::string> requests;           // received in this order (others between)
    std::vector<std::string> neverSent;
    std::size_t documentLookups = 0;
};

void runCases(const std::vector<CallCase>& cases) {
    // A fresh back office per call, so that no call is another's recall.
    for (const CallCase& test : cases) {
        SCOPED_TRACE(test.name);
        IvrBackOffice office;
        ASSERT_GT(office.port(), 0);
        IvrCall call;
        call.program = test.program;
        call.callerId = test.caller;
        call.arguments = {"atendimento", office.writeConfig()};
        call.arguments.insert(call.arguments.end(), test.marks.begin(), test.marks.end());
        call.answersByPrompt = test.answers;
        call.environment = {localHourZone(22)};  // the night greeting, Orvel-u4-03
        IvrCallResult result = runIvrCall(office, call);

        expectCleanCall(result);
        EXPECT_EQ(result.lastGoto(), goTo(test.exit));
        std::vector<std::string> expected = {"ANSWER"};
        expected.insert(expected.end(), test.commands.begin(), test.commands.end());
        expected.push_back(goTo(test.exit));
        EXPECT_TRUE(inOrder(result.commands(), expected));
        for (const std::string& command : test.neverSent) EXPECT_FALSE(result.sent(command)) << command;

        std::vector<std::string> requests = {"GET /service/v1/ready", "GET " + kIsp + "/phone/" + test.caller};
        requests.insert(requests.end(), test.requests.begin(), test.requests.end());
        EXPECT_TRUE(inOrder(requestLines(result.journal), requests));
        EXPECT_EQ(result.requests("document").size(), test.documentLookups);
        // The remote log and the last event name the exit's key, whatever
        // extension the profile chose.
        const std::string key = kRoutedKeys.count(test.exit) != 0 ? kRoutedKeys.at(test.exit) : test.exit;
        EXPECT_EQ(loggerEntry(result, "forward").body["destination"].asString(), key);
        // Remote log entries travel beside the call, so the last request on
        // the caller's path is the closing event.
        const std::vector<JournalEntry> events = result.requests("event");
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().body["data"].asString(), key);
        EXPECT_EQ(events.back().headers.count("PreAuthorization"), 1u);
    }
}

TEST(WholeCalls, OrvelCallsEndAtTheirExits) {
    const std::string orvel = orvelProgram();
    runCases({
        {"identified by phone, invoice sent", orvel, "11987654321", {{"Orvel-u4-33", "1"}}, {}, "50011",
         {background("Orvel-u4-03"), background("Orvel-u4-36"), "SAY NUMBER 20 #", background("Orvel-u4-37"),
          "SAY NUMBER 12 #", background("Orvel-u4-14"), "SAY NUMBER 99 #", background("Orvel-u4-15"),
          background("Orvel-u4-16"), "SAY NUMBER 90 #", background("Orvel-u4-17"), ask("Orvel-u4-33", 5000, 1),
          background("Orvel-u4-19")},
         // the ticket goes beside the recall pair, in no set order with it
         {"POST /service/v1/recall/meta/register", "POST /service/v1/recall/meta/search", "POST " + kIsp + "/send"},
         {ask("Orvel-u4-04", 5000, 14)}, 0},
        {"document typed at the first question, overdue, invoice sent", orvel, "1140041234",
         {{"Orvel-u4-04", "71563204835"}, {"Orvel-u4-18", "1"}}, {}, "50015",
         {ask("Orvel-u4-04", 5000, 14), background("Orvel-u4-57"), "EXEC Set TARVIK_API_ID=71563204835",
          background("Orvel-u4-13"), ask("Orvel-u4-18", 7000, 14), background("Orvel-u4-20")},
         {"GET " + kIsp + "/document/71563204835", "POST /service/v1/identification", "POST " + kIsp + "/send"},
         {ask("Orvel-u4-05", 5000, 14)}, 1},
        {"blocked, trust unlock, more service wanted", orvel, "11976543210",
         {{"Orvel-u4-23", "2"}, {"Orvel-u4-25", "1"}, {"beep", "1"}}, {}, "50020",
         {background("Orvel-u4-21"), ask("Orvel-u4-23", 5000, 14), ask("Orvel-u4-25", 5000, 14),
          background("Orvel-u4-26"), "GET DATA beep 5000 14"},
         {"PUT " + kIsp + "/unlock"}, {}, 0},
        {"not a customer, wants the plans", orvel, "1155550000", {{"Orvel-u4-04", "1"}}, {}, "50001",
         {ask("Orvel-u4-04", 5000, 14)}, {}, {}, 0},
        {"three documents not found", orvel, "1155550000",
         {{"Orvel-u4-04", "12345678909"}, {"Orvel-u4-06", "12345678909"}}, {}, "50005",
         {ask("Orvel-u4-04", 5000, 14), background("Orvel-u4-57"), ask("Orvel-u4-06", 5000, 14),
          background("Orvel-u4-57"), ask("Orvel-u4-06", 5000, 14), background("Orvel-u4-57"),
          background("Orvel-u4-08")},
         {}, {}, 3},
        {"company not found, marked pj: the business desk", orvel, "1155550000",
         {{"Orvel-u4-04", "11444777000161"}, {"Orvel-u4-06", "11444777000161"}}, {"mark::type:pj"}, "7000",
         {"EXEC Background \"" + kBusiness + "Orvel-u4-08\""}, {}, {}, 3},
        // The document type mark is set only once a customer is known, so a
        // CNPJ nobody has stays on the key.
        {"company not found, no mark", orvel, "1155550000",
         {{"Orvel-u4-04", "11444777000161"}, {"Orvel-u4-06", "11444777000161"}}, {}, "50005",
         {background("Orvel-u4-08")}, {}, {}, 3},
        {"no answer to the first question", orvel, "1155550000", {}, {}, "50002",
         {ask("Orvel-u4-04", 5000, 14), ask("Orvel-u4-56", 5000, 14), ask("Orvel-u4-56", 5000, 14),
          background("Orvel-u4-54")},
         {}, {}, 0},
        {"three contracts, the second chosen by address, to collection", orvel, "1133335555",
         {{"beep", "2"}, {"Orvel-u4-23", "3"}}, {}, "7100",
         {"EXEC Set TARVIK_API_ID=11222333000181", "EXEC Background \"" + kBusiness + "Orvel-u4-09\"",
          "SAY NUMBER 120 #", "EXEC Background \"" + kBusiness + "Orvel-u4-10\"", "SAY NUMBER 1 #",
          "EXEC Background \"" + kBusiness + "Orvel-u4-11\"", "SAY NUMBER 1500 #",
          "EXEC Background \"" + kBusiness + "Orvel-u4-10\"", "SAY NUMBER 2 #",
          "EXEC Background \"" + kBusiness + "Orvel-u4-11\"", "EXEC Background \"" + kBusiness + "Orvel-u4-29\"",
          "EXEC Background \"" + kBusiness + "Orvel-u4-10\"", "SAY NUMBER 3 #", "GET DATA beep 5000 1",
          "EXEC Background \"" + kBusiness + "Orvel-u4-21\"",
          "GET DATA " + kBusiness + "Orvel-u4-23 5000 14"},
         {"POST " + kIsp + "/ticket"}, {"EXEC Background \"" + kBusiness + "Orvel-u4-12\""}, 0},
    });
}

TEST(WholeCalls, PelionCallsEndAtTheirExits) {
    const std::string pelion = pelionProgram();
    runCases({
        {"identified by phone, invoice sent", pelion, "11987654321", {{"Orvel-u4-33", "1"}}, {}, "50011",
         {background("Orvel-u4-03"), ask("Orvel-u4-33", 5000, 1), background("Orvel-u4-19")},
         {"POST " + kIsp + "/send"}, {}, 0},
        {"customer, then the document", pelion, "1140049999",
         {{"Orvel-u4-04", "2"}, {"Orvel-u4-05", "34857120607"}}, {}, "50009",
         {ask("Orvel-u4-04", 5000, 1), ask("Orvel-u4-05", 5000, 17), "EXEC Set TARVIK_API_ID=34857120607"},
         {"GET " + kIsp + "/document/34857120607", "POST /service/v1/identification"},
         {background("Orvel-u4-57")}, 1},
        {"blocked, trust unlock, more service wanted", pelion, "11976543210",
         {{"Orvel-u4-23", "2"}, {"Orvel-u4-25", "1"}, {"beep", "1"}}, {}, "50020",
         {ask("Orvel-u4-23", 5000, 14), ask("Orvel-u4-25", 5000, 14), "GET DATA beep 5000 14"},
         {"PUT " + kIsp + "/unlock"}, {}, 0},
        {"not a customer, wants the plans", pelion, "1155550000", {{"Orvel-u4-04", "1"}}, {}, "50001",
         {ask("Orvel-u4-04", 5000, 1)}, {}, {}, 0},
        {"three documents not found", pelion, "1155550000",
         {{"Orvel-u4-04", "2"}, {"Orvel-u4-05", "12345678909"}, {"Orvel-u4-06", "12345678909"}}, {}, "50005",
         {ask("Orvel-u4-05", 5000, 17), ask("Orvel-u4-06", 5000, 17), ask("Orvel-u4-06", 5000, 17),
          background("Orvel-u4-08")},
         {}, {background("Orvel-u4-57")}, 3},
        {"no answer to the first question: no prompt at the limit", pelion, "1155550000", {}, {}, "50002",
         {ask("Orvel-u4-04", 5000, 1), ask("Orvel-u4-04", 5000, 1), ask("Orvel-u4-04", 5000, 1)}, {},
         {background("Orvel-u4-54")}, 0},
    });
}

// The greeting follows the local time of day, for both programs.
TEST(WholeCalls, GreetingFollowsTheTimeOfDay) {
    IvrBackOffice office;
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig();
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        for (const auto& hourAndPrompt : std::vector<std::pair<int, std::string>>{
                 {8, "Orvel-u4-01"}, {15, "Orvel-u4-02"}, {22, "Orvel-u4-03"}, {2, "Orvel-u4-03"}}) {
            SCOPED_TRACE(program + " at " + std::to_string(hourAndPrompt.first));
            IvrCall call;
            call.program = program;
            call.callerId = "1155550000";
            call.arguments = {"atendimento", config};
            call.answersByPrompt["Orvel-u4-04"] = "1";
            call.environment = {localHourZone(hourAndPrompt.first)};
            IvrCallResult result = runIvrCall(office, call);
            expectCleanCall(result);
            EXPECT_TRUE(inOrder(result.commands(), {"ANSWER", background(hourAndPrompt.second),
                                                    "EXEC Goto ivr-exits,50001,1"}));
            int greetings = 0;
            for (const char* prompt : {"Orvel-u4-01", "Orvel-u4-02", "Orvel-u4-03"}) {
                greetings += result.sent(background(prompt)) ? 1 : 0;
            }
            EXPECT_EQ(greetings, 1);
        }
    }
}

// The requests of a call as the back office receives them: paths, headers
// and bodies.
TEST(WholeCalls, OrvelSendsTheInvoiceWithTheExpectedRequests) {
    // With records in line the back office sees the flow's own order; with
    // records beside the call, the caller's path sends the same requests,
    // side by side where nothing depends on the order (the readiness check
    // and the lookup first, the recall search after its registration), and
    // the remote log entries keep their order.
    const std::vector<std::string> flowOrder = {"ready", "logger", "logger", "phone", "event", "logger", "ticket",
                                                "recall-register", "recall-search", "logger", "send", "logger",
                                                "logger", "event"};
    for (const bool inLine : {true, false}) {
    SCOPED_TRACE(inLine ? "records in line" : "records beside the call");
    IvrBackOffice office;
    ASSERT_GT(office.port(), 0);
    IvrCall call;
    call.arguments = {"atendimento", office.writeConfig(inLine ? R"({"backgroundRecords": false})" : "{}")};
    call.answersByPrompt["Orvel-u4-33"] = "1";
    call.environment = {localHourZone(22)};
    IvrCallResult result = runIvrCall(office, call);
    expectCleanCall(result);

    std::vector<std::string> operations;
    std::vector<std::string> pathOperations;
    std::vector<std::string> loggerTypes;
    for (const JournalEntry& entry : result.journal) {
        operations.push_back(entry.operation);
        if (entry.operation == "logger") {
            loggerTypes.push_back(entry.body["eventType"].asString());
        } else {
            pathOperations.push_back(entry.operation);
        }
    }
    if (inLine) {
        EXPECT_EQ(operations, flowOrder);
    } else {
        std::vector<std::string> expectedPath;
        for (const std::string& operation : flowOrder) {
            if (operation != "logger") expectedPath.push_back(operation);
        }
        ASSERT_GE(pathOperations.size(), 2u);
        EXPECT_EQ(pathOperations[0], "ready");
        EXPECT_EQ(pathOperations[1], "phone");
        auto position = [&pathOperations](const char* operation) {
            return std::find(pathOperations.begin(), pathOperations.end(), operation);
        };
        EXPECT_LT(position("recall-register"), position("recall-search"));
        std::sort(pathOperations.begin(), pathOperations.end());
        std::sort(expectedPath.begin(), expectedPath.end());
        EXPECT_EQ(pathOperations, expectedPath);
        EXPECT_EQ(operations.size(), flowOrder.size());
    }
    EXPECT_EQ(loggerTypes, (std::vector<std::string>{"authenticated", "trace", "found", "selected", "send-notification",
                                                     "forward"}));
    ASSERT_EQ(result.requests("phone").size(), 1u);
    const JournalEntry phone = result.requests("phone")[0];
    EXPECT_EQ(phone.path, kIsp + "/phone/11987654321");
    EXPECT_EQ(phone.headers.at("x-ivr-phone"), "11987654321");
    EXPECT_EQ(phone.headers.at("x-ivr-protocol"), "1796777065.3");
    EXPECT_EQ(phone.headers.at("x-ivr-plugin-driver"), "demo");
    EXPECT_EQ(phone.headers.at("x-ivr-plugin-id"), "1");
    EXPECT_EQ(result.requests("send")[0].bodyText,
              "{\"contract\":\"CT-100201\",\"document\":\"52998224725\",\"phone\":\"11987654321\"}\n");
    EXPECT_EQ(result.requests("ticket")[0].bodyText,
              "{\"channel\":\"SIP/operadora-00000001\",\"contract\":\"CT-100201\",\"document\":\"52998224725\","
              "\"phone\":\"11987654321\",\"protocol\":\"1796777065.3\"}\n");
    EXPECT_EQ(result.requests("recall-register")[0].bodyText,
              "{\"destination\":\"orvel.ivr\",\"document\":\"52998224725\",\"e164\":\"11987654321\","
              "\"module\":\"kestro-addon\",\"uniqueId\":\"1796777065.3\"}\n");
    JournalEntry forward = loggerEntry(result, "forward");
    EXPECT_EQ(forward.headers.at("Content-Type"), "application/json");
    EXPECT_EQ(forward.bodyText,
              "{\"callerId\":\"11987654321\",\"channel\":\"SIP/operadora-00000001\",\"data1\":\"11987654321\","
              "\"data2\":\"document 52998224725 sent new invoices\",\"destination\":\"50011\","
              "\"eventModule\":\"plugin\",\"eventType\":\"forward\",\"linkedId\":\"1796777065.3\","
              "\"source\":\"11987654321\",\"uniqueId\":\"1796777065.3\"}\n");
    EXPECT_EQ(loggerEntry(result, "trace").body["data1"].asString(), "atendimento");
    EXPECT_TRUE(inOrder(result.commands(), {"EXEC Set CHANNEL(language)=pt_BR", "ANSWER",
                                            "EXEC Set ORVEL_IVR_DOCUMENT=52998224725",
                                            "EXEC Set ORVEL_IVR_PHONE=11987654321",
                                            "EXEC Set TARVIK_API_ID=52998224725", "EXEC Goto ivr-exits,50011,1"}));
    }
}

TEST(WholeCalls, TrustUnlockSendsThePutAndTheLogOfEachStep) {
    IvrBackOffice office;
    ASSERT_GT(office.port(), 0);
    IvrCall call;
    call.callerId = "11976543210";
    call.arguments = {"atendimento", office.writeConfig()};
    call.answersByPrompt = {{"Orvel-u4-23", "2"}, {"Orvel-u4-25", "1"}, {"beep", "1"}};
    IvrCallResult result = runIvrCall(office, call);
    expectCleanCall(result);
    EXPECT_EQ(result.lastGoto(), "EXEC Goto ivr-exits,50020,1");
    std::vector<JournalEntry> unlock = result.requests("unlock");
    ASSERT_EQ(unlock.size(), 1u);
    EXPECT_EQ(unlock[0].method, "PUT");
    EXPECT_EQ(unlock[0].status, 202);
    EXPECT_EQ(unlock[0].body["contract"].asString(), "CT-100205");
    EXPECT_EQ(unlock[0].body["document"].asString(), "90271436506");
    std::vector<std::string> logged;
    for (const JournalEntry& entry : result.requests("logger")) logged.push_back(entry.body["eventType"].asString());
    EXPECT_EQ(logged, (std::vector<std::string>{"authenticated", "trace", "found", "selected", "request-unlock",
                                                "accepted-unlock", "forward"}));
    EXPECT_EQ(loggerEntry(result, "forward").body["data2"].asString(), "continuar com o atendimento");
}

// The simulator counts calls per document: the second call of a customer
// within the window is a recall; a night-campaign call goes to the night queue.
TEST(WholeCalls, RepeatedCallsGoToPriorityTreatment) {
    IvrBackOffice office;
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig();
    struct Attempt {
        std::string program;
        std::vector<std::string> marks;
        std::string exit;
        std::string recallAttempt;  // RECALL_ATTEMPT set on the channel, "" when none
    };
    const std::vector<Attempt> attempts = {
        {orvelProgram(), {}, "EXEC Goto ivr-exits,50009,1", ""},
        {orvelProgram(), {}, "EXEC Goto ivr-exits,50007,1", "2"},
        {pelionProgram(), {"mark::campaign:night"}, "EXEC Goto ivr-exits,7200,1", "3"},
        {orvelProgram(), {"mark::campaign:day"}, "EXEC Goto ivr-exits,50007,1", "4"},
    };
    for (const Attempt& attempt : attempts) {
        SCOPED_TRACE(attempt.exit + " " + attempt.recallAttempt);
        IvrCall call;
        call.program = attempt.program;
        call.callerId = "1133334444";  // CL-5002: connected, no invoices
        call.arguments = {"atendimento", config};
        call.arguments.insert(call.arguments.end(), attempt.marks.begin(), attempt.marks.end());
        IvrCallResult result = runIvrCall(office, call);
        expectCleanCall(result);
        EXPECT_EQ(result.lastGoto(), attempt.exit);
        ASSERT_EQ(result.requests("recall-search").size(), 1u);
        EXPECT_EQ(result.requests("recall-search")[0].bodyText,
                  "{\"destination\":\"orvel.ivr\",\"document\":\"34857120607\"}\n");
        if (attempt.recallAttempt.empty()) {
            EXPECT_FALSE(loggerEntry(result, "selected").body.isNull());
        } else {
            EXPECT_TRUE(result.sent("EXEC Set RECALL_ATTEMPT=" + attempt.recallAttempt));
            EXPECT_TRUE(loggerEntry(result, "selected").body.isNull());  // the recall comes before the selection
            EXPECT_EQ(loggerEntry(result, "forward").body["destination"].asString(), "50007");
        }
    }
}

}  // namespace
}  // namespace tarvik::testing::e2e
