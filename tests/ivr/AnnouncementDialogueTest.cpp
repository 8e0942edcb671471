// The protocol number and maintenance announcements after contract selection.
#include "tests/ivr/CallFlowTestFixture.h"

namespace tarvik::testing {
namespace {

const char* kRepeat = "repetir_protocolo";
const std::vector<std::string> kOpening{bg("Orvel-u4-38"), bg("Orvel-u4-39"), bg("Orvel-u4-40")};
const std::vector<std::string> kRead{bg("Orvel-u4-41"), "sayDigits 2", "sayDigits 0", "sayDigits 2",
                                     "sayDigits 4", "sayDigits A", "sayDigits 7"};
const std::vector<std::string> kQuestion{bg("Orvel-u4-42"), bg("Orvel-u4-43"), ask(kRepeat, 1, 5, "beep", 3)};

std::vector<std::string> join(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct ProtocolCase {
    const char* name;
    std::vector<Answer> answers;
    std::vector<std::string> expected;  // call steps after the bookkeeping
    std::size_t sent;                   // protocol requests expected
    const char* ticket = R"({"externalId":"2024A7"})";
    std::vector<std::pair<const char*, bool>> switches = {};
};

TEST_F(CallFlowTest, ProtocolDialogueBranches) {
    const std::string end = goTo("50022");
    const ProtocolCase cases[] = {
        {"repeated three times", {{kRepeat, "1"}, {kRepeat, "1"}, {kRepeat, "1"}},
         join({kOpening, kRead, kQuestion, kRead, kQuestion, kRead, kQuestion, {end}}), 0},
        {"invalid, then sent", {{kRepeat, "5"}, {kRepeat, "2"}},
         join({kOpening, kRead, kQuestion, {bg("Orvel-u4-53")}, kQuestion, {bg("Orvel-u4-44"), end}}), 1},
        {"three invalid", {{kRepeat, "5"}, {kRepeat, "#"}, {kRepeat, "9"}},
         join({kOpening, kRead, kQuestion, {bg("Orvel-u4-53")}, kQuestion, {bg("Orvel-u4-53")}, kQuestion,
               {bg("Orvel-u4-53"), end}}),
         0},
        {"empty answer ends it", {{kRepeat, ""}, {kRepeat, "2"}}, join({kOpening, kRead, kQuestion, {end}}), 0},
        {"no answer ends it", {{kRepeat, nullptr}, {kRepeat, "2"}}, join({kOpening, kRead, kQuestion, {end}}), 0},
        {"sending switched off", {{kRepeat, "2"}}, join({kOpening, kRead, kQuestion, {bg("Orvel-u4-44"), end}}), 0,
         R"({"externalId":"2024A7"})", {{"sendProtocol", false}}},
        {"reading switched off", {}, {end}, 0, R"({"externalId":"2024A7"})", {{"informProtocol", false}}},
        {"fetching switched off", {}, {end}, 0, R"({"externalId":"2024A7"})", {{"externalProtocol", false}}},
        {"no protocol number", {}, {end}, 0, R"({"externalId":""})"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        customerWith(contract("c1", "paused"));
        server.answer("POST", "/isp/ticket", 200, each.ticket);
        server.clearRequests();
        Json::Value settings = config;
        for (const auto& [name, on] : each.switches) settings["feature"][name] = on;
        RecordingSession call;
        queue(call, each.answers);
        FlowPlugin module;
        runCall(call, module, settings);

        EXPECT_EQ(stepsAfterBookkeeping(call), each.expected);
        auto sent = requestsFor("POST", "/isp/protocol");
        ASSERT_EQ(sent.size(), each.sent);
        if (!sent.empty()) {
            EXPECT_EQ(sent[0].body, "{\"contract\":\"c1\",\"document\":\"12345678901\",\"phone\":\"11987654321\","
                                    "\"protocol\":\"2024A7\"}\n");
        }
        bool fetchedOff = !each.switches.empty() && std::string(each.switches[0].first) == "externalProtocol";
        EXPECT_EQ(requestsFor("POST", "/isp/ticket").size(), fetchedOff ? 0u : 1u);
    }
}

TEST_F(CallFlowTest, ProtocolDialogueReports) {
    customerWith(contract("c1", "paused"));
    server.answer("POST", "/isp/ticket", 200, R"({"externalId":"2024A7"})");
    queue(session, {{kRepeat, "7"}, {kRepeat, "2"}});
    run();
    EXPECT_TRUE(verboseSaid("protocol is: 2024A7"));
    EXPECT_TRUE(verboseSaid("invalid option to retry protocol: '7'"));
    EXPECT_TRUE(verboseSaid("protocol sent: '2024A7'"));
}

TEST_F(CallFlowTest, MaintenanceAnnouncementSpeaksTheReturnTime) {
    const std::vector<std::string> opening{bg("Orvel-u4-45"), bg("Orvel-u4-46")};
    const std::vector<std::string> closing{bg("Orvel-u4-51"), bg("Orvel-u4-52"), goTo("50022")};
    const struct {
        const char* end;
        std::vector<std::string> middle;
        const char* report;
    } cases[] = {
        {"14:30", {"sayNumber 14", bg("Orvel-u4-48"), bg("Orvel-u4-16"), "sayNumber 30", bg("Orvel-u4-50")}, "'14':'30'"},
        {"1:01", {"sayNumber 1", bg("Orvel-u4-47"), bg("Orvel-u4-16"), "sayNumber 1", bg("Orvel-u4-49")}, "'1':'1'"},
        {"45", {"sayNumber 45", bg("Orvel-u4-50")}, "'0':'45'"},
        {"", {"sayNumber 0", bg("Orvel-u4-50")}, "'0':'0'"},
        {"soon, 18h", {"sayNumber 0", bg("Orvel-u4-50")}, "'0':'0'"},
        {"%s%n:%d", {"sayNumber 0", bg("Orvel-u4-50")}, "'0':'0'"},
        {"0:00", {"sayNumber 0", bg("Orvel-u4-50")}, "'0':'0'"},
        // Only the first 31 characters count: the colon at position 31 is cut
        // off; a number too long for an int saturates.
        {"0000000000000000000000000000012:30", {"sayNumber 12", bg("Orvel-u4-50")}, "'0':'12'"},
        {"99999999999999999999999999999999:30", {"sayNumber 2147483647", bg("Orvel-u4-50")}, "'0':'2147483647'"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.end);
        Json::Value signature = contract("c1", "paused");
        signature["underMaintenance"] = true;
        signature["endOfMaintenance"] = each.end;
        knownByPhone(customer(kCpf, {signature}));
        RecordingSession call;
        FlowPlugin module;
        runCall(call, module, config);
        EXPECT_EQ(stepsAfterBookkeeping(call), join({opening, each.middle, closing}));
        EXPECT_TRUE(hasLine(call.operations(), "verbose under maintenance, return at: " + std::string(each.report)));
    }
}

TEST_F(CallFlowTest, AnnouncementsComeBeforeTheConnectedDialogue) {
    Json::Value signature = contract("c1", "connected");
    signature["underMaintenance"] = true;
    signature["endOfMaintenance"] = "45";
    customerWith(signature);
    server.answer("POST", "/isp/ticket", 200, R"({"externalId":"2024A7"})");
    queue(session, {{kRepeat, "2"}});
    run();
    EXPECT_EQ(stepsAfterBookkeeping(),
              join({kOpening, kRead, kQuestion, {bg("Orvel-u4-44")},
                    {bg("Orvel-u4-45"), bg("Orvel-u4-46"), "sayNumber 45", bg("Orvel-u4-50"), bg("Orvel-u4-51"),
                     bg("Orvel-u4-52"), goTo("50009")}}));

    // With the switch off nothing is announced.
    RecordingSession call;
    Json::Value settings = config;
    settings["feature"]["underMaintenance"] = false;
    settings["feature"]["informProtocol"] = false;
    FlowPlugin module;
    runCall(call, module, settings);
    EXPECT_EQ(stepsAfterBookkeeping(call), std::vector<std::string>{goTo("50009")});
}

}  // namespace
}  // namespace tarvik::testing
