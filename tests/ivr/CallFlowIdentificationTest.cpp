// The frame of a call, the greeting and the identification of the caller.
#include <cstdio>

#include "agi/KestroAgiException.h"
#include "tests/ivr/CallFlowTestFixture.h"

namespace tarvik::testing {
namespace {

TEST_F(CallFlowTest, GreetingFollowsTheTimeOfDayAtEveryBoundary) {
    const struct {
        int hour, minute, second;
        const char* prompt;
    } cases[] = {{0, 0, 0, "Orvel-u4-03"},   {4, 59, 59, "Orvel-u4-03"}, {5, 0, 0, "Orvel-u4-01"},
                 {11, 59, 59, "Orvel-u4-01"}, {12, 0, 0, "Orvel-u4-02"}, {17, 59, 59, "Orvel-u4-02"},
                 {18, 0, 0, "Orvel-u4-03"},  {23, 59, 59, "Orvel-u4-03"}};
    for (const auto& each : cases) {
        setClock(each.hour, each.minute, each.second);
        RecordingSession call;
        plugin.phaseWelcome(call);
        EXPECT_EQ(flowSteps(call), std::vector<std::string>{bg(each.prompt)})
            << each.hour << ":" << each.minute << ":" << each.second;
    }
}

TEST_F(CallFlowTest, AddressDigitsAndDatePartsInLocalTime) {
    EXPECT_EQ(Plugin::extractOnlyNumber("123A45"), "123");
    EXPECT_EQ(Plugin::extractOnlyNumber("A12"), "");
    EXPECT_EQ(Plugin::extractOnlyNumber("0042"), "0042");
    EXPECT_EQ(Plugin::extractOnlyNumber(""), "");

    // 2024-02-29T02:30:45Z is still the 28th, 23:30:45, three hours west.
    const time_t instant = 1709173845;
    const std::pair<char, int> parts[] = {{'H', 23}, {'d', 28}, {'i', 30}, {'m', 2},
                                          {'s', 45}, {'y', 2024}, {'x', -1}, {'M', -1}};
    for (const auto& [part, expected] : parts) EXPECT_EQ(Plugin::getDatePart(part, instant), expected) << part;
}

TEST_F(CallFlowTest, MissingEndpointsEndTheCallUnansweredAndLogged) {
    std::string debug = dir.file("debug.log");
    config["debug"] = debug;
    config.removeMember("plugin");
    std::string path = dir.write("ivr.json", Json::FastWriter().write(config));
    Plugin bare;
    bare.loadConfiguration(session, path.c_str());
    bare.play(session);

    const std::string message = "endpoints find client by document, invoice send and client unlock are required";
    EXPECT_TRUE(verboseSaid(message));
    EXPECT_EQ(TempDir::readFile(debug).find(message), 0u);
    EXPECT_FALSE(hasLine(session.operations(), "answer"));
    EXPECT_TRUE(exits().empty());
    EXPECT_STREQ(bare.getMark("state"), "ready");  // marks are loaded outside the guard
}

// A session whose channel breaks at the first prompt.
class BrokenSession : public RecordingSession {
public:
    bool background(const char* file) override {
        RecordingSession::background(file);
        throw KestroAgiException(400, "failure on parse response: '%s'", "garbage");
    }
};

TEST_F(CallFlowTest, SessionFailureEndsPlayThroughTheGuard) {
    std::string debug = dir.file("debug.log");
    config["debug"] = debug;
    BrokenSession broken;
    broken.setAsteriskVariable("agi_callerid", kMobile);
    std::string path = dir.write("ivr.json", Json::FastWriter().write(config));
    plugin.loadConfiguration(broken, path.c_str());
    plugin.play(broken);  // returns normally

    EXPECT_TRUE(hasLine(broken.operations(), "verbose failure on parse response: 'garbage'"));
    EXPECT_NE(TempDir::readFile(debug).find("failure on parse response: 'garbage'"), std::string::npos);
    EXPECT_TRUE(broken.operationsNamed("goTo").empty());
    EXPECT_TRUE(broken.operationsNamed("input").empty());
}

TEST_F(CallFlowTest, CustomerFoundByPhoneSkipsTheDialogueAndIsRecorded) {
    Json::Value marks;
    marks["plan"] = "fibra";
    Json::Value body;
    Json::Reader().parse(customer("98765432000110", {contract("c1", "paused")}), body);
    body["marks"] = marks;
    knownByPhone(Json::FastWriter().write(body));
    plugin.setDestination(session, "7000");
    run();

    EXPECT_EQ(flowSteps(session), (std::vector<std::string>{"answer", bg("Orvel-u4-01"),
                                                             "setVariable TARVIK_API_ID 98765432000110",
                                                             goTo("50022")}));
    EXPECT_TRUE(verboseSaid("phone detected: 11987654321"));
    EXPECT_TRUE(verboseSaid("client located by phone with document: 98765432000110"));
    EXPECT_TRUE(verboseSaid("found new mark: 'plan'->'fibra'"));
    EXPECT_TRUE(verboseSaid("client was found, address used in this call 120"));
    EXPECT_STREQ(plugin.getMark("type"), "pj");
    EXPECT_STREQ(plugin.getMark("plan"), "fibra");
    EXPECT_EQ(logEntries(), (std::vector<std::string>{"authenticated", "trace 7000",
                                                      "found 98765432000110 11987654321",
                                                      "selected 98765432000110 c1"}));
    EXPECT_EQ(requestsTo("POST", "/service/v1/identification"), 0u);
    bool documentEvent = false;
    for (const auto& request : server.requests())
        documentEvent |= request.body.find(R"("event":"ORVEL_IVR_DOCUMENT")") != std::string::npos &&
                         request.body.find(R"("data":"98765432000110")") != std::string::npos;
    EXPECT_TRUE(documentEvent);
}

TEST_F(CallFlowTest, DocumentLengthGivesTheTypeMarkAndCustomerMarksWin) {
    const struct {
        const char* document;
        const char* type;  // null: no type mark
        const char* customerType;
    } cases[] = {{"12345678901", "pf", nullptr},
                 {"12345678901234", "pj", nullptr},
                 {"1234567890", nullptr, nullptr},
                 {"12345678901", "vip", "vip"}};
    for (const auto& each : cases) {
        Json::Value body;
        Json::Reader().parse(customer(each.document, {contract("c1", "paused")}), body);
        if (each.customerType != nullptr) body["marks"]["type"] = each.customerType;
        RecordingSession call;
        knownByPhone(Json::FastWriter().write(body));
        FlowPlugin module;
        runCall(call, module, config);
        const char* type = module.getMark("type");
        if (each.type == nullptr) {
            EXPECT_EQ(type, nullptr) << each.document;
        } else {
            EXPECT_STREQ(type, each.type) << each.document;
        }
        EXPECT_EQ(call.variablesSet().at("TARVIK_API_ID"), each.document);
    }
}

// One identification dialogue: what the caller types, and the call steps
// expected after the answer and the greeting. A null answer is silence
// reported by the session as no text at all.
struct IdentificationCase {
    const char* name;
    std::vector<const char*> isClient;
    std::vector<const char*> documents;
    std::vector<std::string> expected;
    std::string escapeCode = "";
    bool findByDocument = true;
    bool backOfficeReady = true;
};

const std::string kIsClient = ask("is_client", 1, 5, "Orvel-u4-04", 3);
std::string askDocument(const char* prompt) { return ask("document", 14, 5, prompt, 3); }
const std::string kKnown = "setVariable TARVIK_API_ID 12345678901";

TEST_F(CallFlowTest, IdentificationDialogueBranches) {
    const IdentificationCase cases[] = {
        {"wants plans", {"1"}, {}, {kIsClient, goTo("50001")}},
        {"no valid answer", {"3", "", nullptr}, {}, {kIsClient, kIsClient, kIsClient, bg("Orvel-u4-54"), goTo("50002")}},
        {"silence throughout", {}, {}, {kIsClient, kIsClient, kIsClient, bg("Orvel-u4-54"), goTo("50002")}},
        {"third answer is a customer",
         {"3", "3", "2"},
         {kCpf},
         {kIsClient, kIsClient, kIsClient, askDocument("Orvel-u4-05"), kKnown, goTo("50022")}},
        {"empty, then known", {"2"}, {"", kCpf}, {kIsClient, askDocument("Orvel-u4-05"), askDocument("Orvel-u4-07"), kKnown, goTo("50022")}},
        {"unknown twice, then known",
         {"2"},
         {"111", "222", kCpf},
         {kIsClient, askDocument("Orvel-u4-05"), askDocument("Orvel-u4-06"), askDocument("Orvel-u4-06"), kKnown,
          goTo("50022")}},
        {"never found",
         {"2"},
         {"111", nullptr, "222"},
         {kIsClient, askDocument("Orvel-u4-05"), askDocument("Orvel-u4-06"), askDocument("Orvel-u4-07"),
          bg("Orvel-u4-08"), goTo("50005")}},
        {"escape code", {"2"}, {"999"}, {kIsClient, askDocument("Orvel-u4-05"), goTo("50004")}, "999"},
        {"escape code and a digit more is a document",
         {"2"},
         {"9990", kCpf},
         {kIsClient, askDocument("Orvel-u4-05"), askDocument("Orvel-u4-06"), kKnown, goTo("50022")},
         "999"},
        {"lookup by document switched off",
         {"2"},
         {kCpf, kCpf, kCpf},
         {kIsClient, askDocument("Orvel-u4-05"), askDocument("Orvel-u4-06"), askDocument("Orvel-u4-06"),
          bg("Orvel-u4-08"), goTo("50005")},
         "",
         false},
        {"back office not ready", {"2"}, {kCpf}, {kIsClient, goTo("50003")}, "", true, false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        RecordingSession call;
        for (const char* answer : each.isClient) answer ? call.queueInput("is_client", answer) : call.queueNoAnswer("is_client");
        for (const char* answer : each.documents) answer ? call.queueInput("document", answer) : call.queueNoAnswer("document");
        server.clearRequests();
        server.answer("GET", "/service/v1/ready", 200, each.backOfficeReady ? R"({"state":"ready"})" : "{}");
        knownByDocument(kCpf, customer(kCpf, {contract("c1", "paused")}));
        knownByDocument("9990", "{}");
        Json::Value settings = config;
        settings["escapeCode"] = each.escapeCode;
        settings["feature"]["findClientByDocument"] = each.findByDocument;
        FlowPlugin module;
        runCall(call, module, settings);

        std::vector<std::string> steps = flowSteps(call);
        ASSERT_GE(steps.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(steps.begin() + 2, steps.end()), each.expected);
        EXPECT_EQ(requestsTo("GET", "/isp/document/999"), 0u);
        EXPECT_EQ(requestsTo("GET", "/isp/phone/11987654321"), each.backOfficeReady ? 1u : 0u);
        if (!each.findByDocument) {
            EXPECT_EQ(requestsTo("GET", "/isp/document/" + std::string(kCpf)), 0u);
        }
    }
}

TEST_F(CallFlowTest, IdentificationReportsAndSavesWhatWasTyped) {
    session.queueInput("is_client", "2");
    session.queueInput("document", "111");
    session.queueInput("document", "");
    session.queueInput("document", "999");
    config["escapeCode"] = "999";
    run();
    EXPECT_TRUE(verboseSaid("requested document, attempt 0,  document: '111'"));
    EXPECT_TRUE(verboseSaid("typed cpf_ou_cnpj: '111'"));
    EXPECT_TRUE(verboseSaid("requested document, attempt 1,  document: ''"));
    EXPECT_TRUE(verboseSaid("requested document, attempt 2,  document: '999'"));
    EXPECT_EQ(logEntries(), (std::vector<std::string>{"authenticated", "forward-by-scape-code 999 11987654321"}));
    EXPECT_EQ(exits(), std::vector<std::string>{goTo("50004")});

    // A caller identified by document has the identification saved once.
    RecordingSession call;
    call.queueInput("is_client", "2");
    call.queueInput("document", kCpf);
    knownByDocument(kCpf, customer(kCpf, {contract("c1", "paused")}));
    server.clearRequests();
    FlowPlugin module;
    runCall(call, module, config);
    EXPECT_EQ(requestsTo("POST", "/service/v1/identification"), 1u);
    EXPECT_TRUE(hasLine(call.operations(), "verbose client found by document: '12345678901'"));
}

TEST_F(CallFlowTest, UnknownCallerIsLoggedBeforeGoingToClientNotFound) {
    session.queueInput("is_client", "2");
    for (int i = 0; i < 3; ++i) session.queueInput("document", "555");
    run();
    std::vector<std::string> entries = logEntries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), "retry-limits-reached 555 11987654321");
    EXPECT_EQ(exits(), std::vector<std::string>{goTo("50005")});
    EXPECT_TRUE(verboseSaid("typed document, but client not found"));
}

}  // namespace
}  // namespace tarvik::testing

namespace tarvik::testing {
namespace {

// A site without a lookup by phone.
class NoPhoneLookupPlugin : public FlowPlugin {
public:
    void onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) override {
        FlowPlugin::onLoadPlugin(session, plugin);
        setEndpointFindClientByPhone("");
    }
};

TEST_F(CallFlowTest, LookupByPhoneCanBeAbsentOrSwitchedOff) {
    customerWith(contract("c1", "paused"));
    setFeature("findClientByPhone", false);
    queue(session, {{"is_client", "1"}});
    run();
    EXPECT_EQ(requestsTo("GET", "/isp/phone/11987654321"), 0u);
    EXPECT_EQ(exits(), std::vector<std::string>{goTo("50001")});

    RecordingSession call;
    queue(call, {{"is_client", "1"}});
    NoPhoneLookupPlugin module;
    runCall(call, module, config);
    EXPECT_TRUE(hasLine(call.operations(), "verbose search by phone is not supported"));
    EXPECT_EQ(call.operationsNamed("goTo"), std::vector<std::string>{goTo("50001")});
    EXPECT_EQ(requestsTo("GET", "/isp/phone/11987654321"), 0u);
}

}  // namespace
}  // namespace tarvik::testing
