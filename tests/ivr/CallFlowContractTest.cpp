// Contract selection and the checks made once the contract is known.
#include "tests/ivr/CallFlowTestFixture.h"

namespace tarvik::testing {
namespace {

const std::string kChoice = ask("endereco_de_atendimento", 1, 5, "beep", 3);

// One round of the contract list for two contracts whose address numbers
// begin with the given digits (empty: no digits).
std::vector<std::string> listing(const std::string& first, const std::string& second) {
    std::vector<std::string> steps{bg("Orvel-u4-09")};
    steps.push_back(first.empty() ? bg("Orvel-u4-29") : "sayNumber " + first);
    steps.insert(steps.end(), {bg("Orvel-u4-10"), "sayNumber 1", bg("Orvel-u4-11")});
    steps.push_back(second.empty() ? bg("Orvel-u4-29") : "sayNumber " + second);
    steps.insert(steps.end(), {bg("Orvel-u4-10"), "sayNumber 2", kChoice});
    return steps;
}

TEST_F(CallFlowTest, CustomerWithoutContractsGoesToClientWithoutSignatures) {
    // A preset standard does not help: the list is what counts.
    Json::Value body;
    Json::Reader().parse(customer(kCpf, {}), body);
    body["standard"] = contract("c9", "connected");
    knownByPhone(Json::FastWriter().write(body));
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), std::vector<std::string>{goTo("50006")});
    EXPECT_TRUE(verboseSaid("client without signatures"));
}

TEST_F(CallFlowTest, CallerPicksTheSecondContract) {
    knownByPhone(customer(kCpf, {contract("c1", "paused", "120B"), contract("c2", "canceled", "45")}));
    session.queueInput("endereco_de_atendimento", "2");
    run();
    std::vector<std::string> expected = listing("120", "45");
    expected.push_back(goTo("50024"));
    EXPECT_EQ(stepsAfterBookkeeping(), expected);
    EXPECT_TRUE(verboseSaid("option 1 to address  120"));
    EXPECT_TRUE(verboseSaid("has other signatures"));
    EXPECT_TRUE(verboseSaid("waiting for a choice"));
    EXPECT_TRUE(verboseSaid("client was found, address used in this call 45"));
    EXPECT_EQ(logEntries().back(), "selected 12345678901 c2");
}

TEST_F(CallFlowTest, ThreeInvalidChoicesTakeTheFirstContractAndSpeakItsWholeAddress) {
    knownByPhone(customer(kCpf, {contract("c1", "paused", "120B"), contract("c2", "canceled", "A12")}));
    session.queueInput("endereco_de_atendimento", "3");
    session.queueInput("endereco_de_atendimento", "");
    session.queueNoAnswer("endereco_de_atendimento");
    run();
    std::vector<std::string> expected;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::string> once = listing("120", "");
        expected.insert(expected.end(), once.begin(), once.end());
    }
    expected.insert(expected.end(), {bg("Orvel-u4-12"), "sayNumber 120B", goTo("50022")});
    EXPECT_EQ(stepsAfterBookkeeping(), expected);
    EXPECT_TRUE(verboseSaid("invalid option when select the signature: '3'"));
    EXPECT_TRUE(verboseSaid("invalid option when select the signature: '0'"));
    EXPECT_TRUE(verboseSaid("invalid option when select the signature: '-1'"));
    EXPECT_TRUE(verboseSaid("selected the first contract for the default, because invalid options"));
}

TEST_F(CallFlowTest, DesignatedStandardContractIsNeverAskedFor) {
    Json::Value body;
    Json::Reader().parse(customer(kCpf, {contract("c1", "paused"), contract("c2", "paused")}), body);
    body["standard"] = contract("c2", "canceled", "77");
    knownByPhone(Json::FastWriter().write(body));
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), std::vector<std::string>{goTo("50024")});
}

// The exit of a contract that reaches the state dispatch, by state and debt.
TEST_F(CallFlowTest, ContractStateChoosesTheExit) {
    const struct {
        const char* state;
        bool debt;
        std::vector<std::string> expected;
        const char* text;
    } cases[] = {
        {"unknown", true, {goTo("50025")}, "situação desconhecida com débito"},
        {"unknown", false, {goTo("50026")}, "situação desconhecida sem débito"},
        {"without-connection", true, {goTo("50027")}, "sem conexão com débito"},
        {"without-connection", false, {bg("Orvel-u4-27"), goTo("50028")}, "sem conexão sem débito"},
        {"paused", true, {goTo("50022")}, "pausado com pendencias"},
        {"paused", false, {goTo("50022")}, "pausado sem pendencias"},
        {"canceled", true, {goTo("50023")}, "cancelado com débito"},
        {"canceled", false, {goTo("50024")}, "cancelado sem débito"},
        {"no-wiring", true, {goTo("50029")}, "situação desconhecida"},
        {"Paused", false, {goTo("50026")}, "situação desconhecida sem débito"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(std::string(each.state) + (each.debt ? " with debt" : " without debt"));
        Json::Value signature = contract("c1", each.state);
        if (each.debt) signature["overdueInvoices"].append(invoice("2024-02-05", 10));
        RecordingSession call;
        knownByPhone(customer(kCpf, {signature}));
        FlowPlugin module;
        runCall(call, module, config);
        std::vector<std::string> steps = flowSteps(call);
        std::vector<std::string> tail(steps.end() - static_cast<long>(each.expected.size()), steps.end());
        EXPECT_EQ(tail, each.expected);
        EXPECT_EQ(call.operationsNamed("goTo").size(), 1u);
        EXPECT_TRUE(hasLine(call.operations(), "verbose " + std::string(each.text)));
    }
}

TEST_F(CallFlowTest, RepeatedCallGoesToPriorityTreatment) {
    customerWith(contract("c1", "connected"));
    server.answer("POST", "/service/v1/recall/meta/search", 200, R"({"attempt":2})");
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), (std::vector<std::string>{"setVariable RECALL_ATTEMPT 2", goTo("50007")}));
    ASSERT_EQ(requestsTo("POST", "/service/v1/recall/meta/register"), 1u);
    for (const auto& request : server.requests()) {
        if (request.path != "/service/v1/recall/meta/register") continue;
        EXPECT_EQ(request.body,
                  R"({"destination":"orvel.ivr","document":"12345678901","e164":"11987654321",)"
                  R"("module":"kestro-addon","uniqueId":"1700000000.42"})"
                  "\n");
    }
}

TEST_F(CallFlowTest, RecallSwitchedOffMakesNoRecallRequests) {
    customerWith(contract("c1", "paused"));
    server.answer("POST", "/service/v1/recall/meta/search", 200, R"({"attempt":2})");
    setFeature("recall", false);
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), std::vector<std::string>{goTo("50022")});
    EXPECT_EQ(requestsTo("POST", "/service/v1/recall/meta/register"), 0u);
    EXPECT_EQ(requestsTo("POST", "/service/v1/recall/meta/search"), 0u);
}

TEST_F(CallFlowTest, CustomForwardingIsTheDestinationKey) {
    Json::Value signature = contract("c1", "connected");
    signature["forwarding"] = "4001";
    customerWith(signature);
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), std::vector<std::string>{goTo("4001")});
    EXPECT_TRUE(verboseSaid("transfer to custom forwarding"));
    EXPECT_EQ(logEntries().back(), "selected 12345678901 c1");
}

TEST_F(CallFlowTest, OverdueInvoiceWithoutBarCodeUnlessIgnored) {
    Json::Value signature = contract("c1", "connected");
    signature["overdueInvoices"].append(invoice("2024-02-05", 10, ""));
    customerWith(signature);
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), (std::vector<std::string>{bg("Orvel-u4-34"), goTo("50008")}));
    EXPECT_EQ(logEntries().back(), "empty-barcode 12345678901");

    RecordingSession call;
    config["ignoreEmptyBarCode"] = true;
    FlowPlugin module;
    runCall(call, module, config);
    EXPECT_EQ(call.operationsNamed("goTo"), std::vector<std::string>{goTo("50014")});  // the debt dialogue ran
}

}  // namespace
}  // namespace tarvik::testing
