// A blocked contract: the options of an overdue customer and the trust unlock.
#include "tests/ivr/CallFlowTestFixture.h"

namespace tarvik::testing {
namespace {

const std::string kOptions = ask("opcao_atendimento_inadimplente", 14, 5, "Orvel-u4-23", 3);
const std::string kTerms = ask("deseja_liberar_em_confianca", 14, 5, "Orvel-u4-25", 3);
const std::string kOther = ask("outras_opcoes_de_atendimento", 14, 5, "beep", 3);
const char* kOption = "opcao_atendimento_inadimplente";
const char* kTerm = "deseja_liberar_em_confianca";
const char* kMore = "outras_opcoes_de_atendimento";

struct BlockedCase {
    const char* name;
    std::vector<Answer> answers;
    std::vector<std::string> afterOptions;  // call steps after the options question(s)
    std::vector<std::string> logs;          // log entries after the selection
    std::size_t unlocks = 0;                // unlock requests expected
    bool canUnlock = true;
    bool unlockSwitch = true;
    int unlockStatus = 200;
};

TEST_F(CallFlowTest, BlockedContractDialogues) {
    const std::vector<std::string> request{"request-unlock 12345678901"};
    const std::vector<std::string> accepted{"request-unlock 12345678901", "accepted-unlock 12345678901"};
    const BlockedCase cases[] = {
        {"no valid option", {{kOption, "7"}, {kOption, ""}, {kOption, nullptr}}, {kOptions, kOptions, goTo("50016")}, {}},
        {"option 1 sends the invoice", {{kOption, "1"}}, {bg("Orvel-u4-19"), goTo("50031")},
         {"send-notification 12345678901"}},
        {"option 3 goes to collection", {{kOption, "4"}, {kOption, "3"}}, {kOptions, goTo("50021")}, {}},
        {"unlock not allowed", {{kOption, "2"}}, {bg("Orvel-u4-24"), goTo("50017")},
         {"request-unlock 12345678901", "deny-unlock 12345678901"}, 0, false},
        {"terms never answered", {{kOption, "2"}, {kTerm, nullptr}, {kTerm, ""}, {kTerm, nullptr}},
         {kTerms, kTerms, kTerms, goTo("50018")}, {"request-unlock 12345678901", "reject-unlock-term 12345678901"}},
        {"terms refused", {{kOption, "2"}, {kTerm, "9"}}, {kTerms, goTo("50018")},
         {"request-unlock 12345678901", "reject-unlock-term 12345678901"}},
        {"unlock switched off", {{kOption, "2"}, {kTerm, "1"}}, {kTerms, bg("Orvel-u4-falha-desbloqueio"), goTo("50019")},
         request, 0, true, false},
        {"unlock refused by the back office", {{kOption, "2"}, {kTerm, "1"}},
         {kTerms, bg("Orvel-u4-falha-desbloqueio"), goTo("50019")}, request, 1, true, true, 204},
        {"unlocked, wants more", {{kOption, "2"}, {kTerm, ""}, {kTerm, "1"}, {kMore, "1"}},
         {kTerms, kTerms, bg("Orvel-u4-26"), kOther, goTo("50020")}, accepted, 1, true, true, 202},
        {"unlocked, done", {{kOption, "2"}, {kTerm, "1"}, {kMore, "2"}}, {kTerms, bg("Orvel-u4-26"), kOther,
         bg("Orvel-u4-28")}, accepted, 1},
        {"unlocked, silence", {{kOption, "2"}, {kTerm, "1"}}, {kTerms, bg("Orvel-u4-26"), kOther, bg("Orvel-u4-28")},
         accepted, 1},
    };
    const std::vector<std::string> opening{bg("Orvel-u4-21"), "sayNumber 5", bg("Orvel-u4-22"), "sayNumber 2", kOptions};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        Json::Value signature = contract("c1", "blocked");
        signature["canUnlock"] = each.canUnlock;
        signature["overdueInvoices"].append(invoice("2024-02-05", 250.5));
        knownByPhone(customer(kCpf, {signature}));
        server.answer("PUT", "/isp/unlock", each.unlockStatus, "{}");
        server.clearRequests();
        Json::Value settings = config;
        settings["feature"]["signatureUnlock"] = each.unlockSwitch;
        RecordingSession call;
        queue(call, each.answers);
        FlowPlugin module;
        runCall(call, module, settings);

        std::vector<std::string> expected = opening;
        expected.insert(expected.end(), each.afterOptions.begin(), each.afterOptions.end());
        EXPECT_EQ(stepsAfterBookkeeping(call), expected);
        EXPECT_EQ(logEntriesAfterSelection(), each.logs);
        auto unlocks = requestsFor("PUT", "/isp/unlock");
        ASSERT_EQ(unlocks.size(), each.unlocks);
        if (!unlocks.empty()) {
            EXPECT_EQ(unlocks[0].body, "{\"contract\":\"c1\",\"document\":\"12345678901\"}\n");
        }
    }
}

TEST_F(CallFlowTest, BlockedWithoutOverdueInvoicesEndsAtOnce) {
    Json::Value signature = contract("c1", "blocked");
    signature["invoices"].append(invoice("2024-03-15", 10));
    customerWith(signature);
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), std::vector<std::string>{goTo("50030")});
    EXPECT_TRUE(verboseSaid("contrato bloqueado sem informações de faturas"));
}

TEST_F(CallFlowTest, BlockedDialogueReportsEveryAnswer) {
    Json::Value signature = contract("c1", "blocked");
    signature["canUnlock"] = false;
    signature["overdueInvoices"].append(invoice("2024-02-05", 10));
    customerWith(signature);
    queue(session, {{kOption, "8"}, {kOption, "2"}});
    run();
    EXPECT_TRUE(verboseSaid("apresentado opcoes de atendimento para inadimplente, tentativa 0,  digitado: '8'"));
    EXPECT_TRUE(verboseSaid("apresentado opcoes de atendimento para inadimplente, tentativa 1,  digitado: '2'"));
    EXPECT_TRUE(verboseSaid("servico de liberacao em confianca nao disponivel para o documento: 12345678901"));
}

TEST_F(CallFlowTest, BlockedContractLeavesOutADueDateThatIsNotADate) {
    for (const char* dueDate : {"", "05/03/2024"}) {
        Json::Value signature = contract("c1", "blocked");
        signature["overdueInvoices"].append(invoice(dueDate, 250.5));
        knownByPhone(customer(kCpf, {signature}));
        RecordingSession call;
        queue(call, {{kOption, "3"}});
        FlowPlugin module;
        runCall(call, module, config);
        EXPECT_EQ(stepsAfterBookkeeping(call), (std::vector<std::string>{kOptions, goTo("50021")})) << dueDate;
    }
}

}  // namespace
}  // namespace tarvik::testing
