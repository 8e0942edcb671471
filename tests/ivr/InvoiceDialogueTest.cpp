// A connected contract: the open invoice, the overdue invoice and sending it.
#include "tests/ivr/CallFlowTestFixture.h"

namespace tarvik::testing {
namespace {

const std::string kAboutInvoice = ask("atendimento_referente_ao_boleto", 1, 5, "Orvel-u4-33", 1);
const std::string kAboutDebt = ask("atendimento_referente_ao_debito", 14, 7, "Orvel-u4-18", 3);

// Due day, month, reais and centavos as the invoice reading speaks them.
std::vector<std::string> reading(int day, int month, int reais, int cents) {
    return {"sayNumber " + std::to_string(day),   bg("Orvel-u4-37"), "sayNumber " + std::to_string(month),
            bg("Orvel-u4-14"),                     "sayNumber " + std::to_string(reais), bg("Orvel-u4-15"),
            bg("Orvel-u4-16"),                     "sayNumber " + std::to_string(cents), bg("Orvel-u4-17")};
}
std::vector<std::string> join(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct InvoiceCase {
    const char* name;
    bool overdue;  // the invoice is overdue (the debt question) or open
    std::vector<Answer> answers;
    std::vector<std::string> expected;  // call steps after the bookkeeping
    const char* text;                   // the redirect's trace ("" for none)
    bool sent;                          // one send request expected
    const char* phone = kMobile;
    bool sendSwitch = true;
};

TEST_F(CallFlowTest, ConnectedContractDialogues) {
    const auto openInvoice = join({{bg("Orvel-u4-36")}, reading(15, 3, 89, 90), {kAboutInvoice}});
    const auto debt = join({{bg("Orvel-u4-13")}, reading(5, 2, 100, 0)});
    const InvoiceCase cases[] = {
        {"open invoice, no answer", false, {}, join({openInvoice, {goTo("50010")}}),
         "document 12345678901 without any invoice pending, no is about invoice", false},
        {"open invoice, another key", false, {{"atendimento_referente_ao_boleto", "2"}},
         join({openInvoice, {goTo("50010")}}), "document 12345678901 without any invoice pending, no is about invoice",
         false},
        {"open invoice sent to a mobile", false, {{"atendimento_referente_ao_boleto", "1"}},
         join({openInvoice, {bg("Orvel-u4-19"), goTo("50011")}}), "document 12345678901 sent new invoices", true},
        {"open invoice sent to a landline", false, {{"atendimento_referente_ao_boleto", "1"}},
         join({openInvoice, {bg("Orvel-u4-20"), goTo("50011")}}), "document 12345678901 sent new invoices", true,
         kLandline},
        {"sending switched off", false, {{"atendimento_referente_ao_boleto", "1"}},
         join({openInvoice, {bg("Orvel-u4-19"), goTo("50011")}}), "document 12345678901 sent new invoices", false,
         kMobile, false},
        {"debt, 9 9 2", true,
         {{"atendimento_referente_ao_debito", "9"}, {"atendimento_referente_ao_debito", "9"},
          {"atendimento_referente_ao_debito", "2"}},
         join({debt, {kAboutDebt, kAboutDebt, kAboutDebt, goTo("50012")}}), "", false},
        {"debt, option 3", true, {{"atendimento_referente_ao_debito", "3"}},
         join({debt, {kAboutDebt, goTo("50013")}}), "", false},
        {"debt, option 1", true, {{"atendimento_referente_ao_debito", "1"}},
         join({debt, {kAboutDebt, bg("Orvel-u4-19"), goTo("50015")}}), "", true},
        {"debt, silence", true, {{"atendimento_referente_ao_debito", ""}, {"atendimento_referente_ao_debito", nullptr}},
         join({debt, {kAboutDebt, kAboutDebt, kAboutDebt, goTo("50014")}}), "", false},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        Json::Value signature = contract("c1", "connected");
        signature["invoices"].append(invoice("2024-03-15", 89.9));
        if (each.overdue) signature["overdueInvoices"].append(invoice("2024-02-05", 100));
        knownByPhone(customer(kCpf, {signature}), each.phone);
        server.clearRequests();
        Json::Value settings = config;
        settings["feature"]["sendInvoice"] = each.sendSwitch;
        RecordingSession call;
        call.setAsteriskVariable("agi_callerid", each.phone);
        queue(call, each.answers);
        FlowPlugin module;
        runCall(call, module, settings);

        EXPECT_EQ(stepsAfterBookkeeping(call), each.expected);
        auto sends = requestsFor("POST", "/isp/send");
        ASSERT_EQ(sends.size(), each.sent ? 1u : 0u);
        if (each.sent) {
            EXPECT_EQ(sends[0].body, R"({"contract":"c1","document":"12345678901","phone":")" + std::string(each.phone) +
                                         "\"}\n");
        }
        // Every sending, switched on or not, is logged and confirmed.
        bool confirmed = hasLine(each.expected, bg("Orvel-u4-19")) || hasLine(each.expected, bg("Orvel-u4-20"));
        EXPECT_EQ(logEntriesAfterSelection(),
                  confirmed ? std::vector<std::string>{"send-notification 12345678901"} : std::vector<std::string>{});
        if (*each.text != '\0') {
            EXPECT_TRUE(hasLine(call.operations(), "verbose " + std::string(each.text)));
        }
    }
}

TEST_F(CallFlowTest, ConnectedWithoutAnyInvoiceEndsAtOnce) {
    customerWith(contract("c1", "connected"));
    run();
    EXPECT_EQ(stepsAfterBookkeeping(), std::vector<std::string>{goTo("50009")});
    EXPECT_TRUE(verboseSaid("document 12345678901 without any invoice pending"));
}

TEST_F(CallFlowTest, CentavosDropTheFractionAfterMultiplying) {
    const struct {
        double price;
        int reais, cents;
    } cases[] = {{89.9, 89, 90}, {89.8999, 89, 89}, {100, 100, 0}, {0.05, 0, 5}, {1e12, 2147483647, 0}};
    for (const auto& each : cases) {
        Json::Value signature = contract("c1", "connected");
        signature["invoices"].append(invoice("2024-12-31", each.price));
        knownByPhone(customer(kCpf, {signature}));
        RecordingSession call;
        FlowPlugin module;
        runCall(call, module, config);
        auto steps = stepsAfterBookkeeping(call);
        ASSERT_GE(steps.size(), 10u);
        EXPECT_EQ(std::vector<std::string>(steps.begin() + 1, steps.begin() + 10), reading(31, 12, each.reais, each.cents))
            << each.price;
    }
}

// A due date that is not a date is left out of the reading, never spoken
// as a made-up day; the amount is still read.
TEST_F(CallFlowTest, ReadingLeavesOutADueDateThatIsNotADate) {
    for (const char* dueDate : {"", "05/03/2024"}) {
        Json::Value signature = contract("c1", "connected");
        signature["invoices"].append(invoice(dueDate, 89.9));
        knownByPhone(customer(kCpf, {signature}));
        RecordingSession call;
        FlowPlugin module;
        runCall(call, module, config);
        auto steps = stepsAfterBookkeeping(call);
        const auto whole = reading(0, 0, 89, 90);
        const std::vector<std::string> amountOnly(whole.begin() + 3, whole.end());
        ASSERT_GE(steps.size(), 8u) << dueDate;
        EXPECT_EQ(steps[0], bg("Orvel-u4-36")) << dueDate;
        EXPECT_EQ(std::vector<std::string>(steps.begin() + 1, steps.begin() + 7), amountOnly) << dueDate;
        EXPECT_EQ(steps[7], kAboutInvoice) << dueDate;
    }
}

}  // namespace
}  // namespace tarvik::testing
