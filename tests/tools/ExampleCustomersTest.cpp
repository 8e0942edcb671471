// The example fixture must stay a faithful back office: well-typed client
// documents, plausible Brazilian documents and phones, and a customer for
// every branch of the call flow.

#include "tests/tools/SimTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

using namespace tarvik;

namespace {

Json::Value loadExample() {
    std::ifstream in(exampleCustomersPath());
    std::ostringstream text;
    text << in.rdbuf();
    return parseJson(text.str());
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Check digits of a CPF (11 digits) or CNPJ (14 digits).
bool validDocument(const std::string& document) {
    if (!allDigits(document) || (document.size() != 11 && document.size() != 14)) {
        return false;
    }
    auto checkDigit = [&](std::size_t length, const std::vector<int>& weights) {
        int sum = 0;
        for (std::size_t i = 0; i < length; ++i) {
            sum += (document[i] - '0') * weights[i];
        }
        int rest = sum % 11;
        return rest < 2 ? 0 : 11 - rest;
    };
    if (document.size() == 11) {
        std::vector<int> first{10, 9, 8, 7, 6, 5, 4, 3, 2};
        std::vector<int> second{11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
        return checkDigit(9, first) == document[9] - '0' && checkDigit(10, second) == document[10] - '0';
    }
    std::vector<int> first{5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    std::vector<int> second{6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    return checkDigit(12, first) == document[12] - '0' && checkDigit(13, second) == document[13] - '0';
}

bool hasBarCode(const Json::Value& invoice) {
    return invoice["barCode"].isString() && !invoice["barCode"].asString().empty();
}

bool allHaveBarCodes(const Json::Value& invoices) {
    for (const Json::Value& invoice : invoices) {
        if (!hasBarCode(invoice)) {
            return false;
        }
    }
    return true;
}

void expectWellTypedInvoice(const Json::Value& invoice, const std::string& where) {
    for (const char* key : {"id", "number", "pdf", "dueDate"}) {
        EXPECT_TRUE(invoice[key].isString()) << where << " " << key;
    }
    EXPECT_TRUE(invoice["price"].isNumeric()) << where;
    EXPECT_TRUE(invoice["originalPrice"].isNumeric()) << where;
    const std::string dueDate = invoice["dueDate"].asString();
    EXPECT_TRUE(dueDate.size() == 10 && dueDate[4] == '-' && dueDate[7] == '-') << where << " " << dueDate;
}

void expectWellTypedContract(const Json::Value& contract, const std::string& where) {
    static const std::set<std::string> kStates{"unknown", "without-connection", "connected", "paused",
                                               "blocked", "canceled", "no-wiring"};
    EXPECT_TRUE(contract["id"].isString()) << where;
    EXPECT_TRUE(contract["addressNumber"].isString()) << where;
    EXPECT_EQ(kStates.count(contract["state"].asString()), 1u) << where;
    for (const char* key : {"blocked", "canUnlock", "underMaintenance"}) {
        EXPECT_TRUE(contract[key].isBool()) << where << " " << key;
    }
    for (const char* list : {"overdueInvoices", "invoices"}) {
        ASSERT_TRUE(contract[list].isArray()) << where << " " << list;
        for (const Json::Value& invoice : contract[list]) {
            expectWellTypedInvoice(invoice, where + " " + list);
        }
    }
}

}  // namespace

TEST(ExampleCustomers, AreWellFormedBrazilianCustomers) {
    Json::Value root = loadExample();
    ASSERT_TRUE(root["customers"].isArray()) << root;
    std::set<std::string> documents;
    std::set<std::string> phones;
    for (const Json::Value& customer : root["customers"]) {
        const std::string document = customer["document"].asString();
        EXPECT_TRUE(customer["_comment"].isString() && !customer["_comment"].asString().empty()) << document;
        EXPECT_TRUE(customer["name"].isString()) << document;
        EXPECT_TRUE(validDocument(document)) << document;
        EXPECT_TRUE(documents.insert(document).second) << "repeated " << document;
        EXPECT_TRUE(customer["externalId"].isNull() || customer["externalId"].isString()) << document;
        for (const Json::Value& phone : customer["phones"]) {
            const std::string text = phone.asString();
            EXPECT_TRUE(allDigits(text) && (text.size() == 10 || text.size() == 11)) << text;
            EXPECT_TRUE(phones.insert(text).second) << "repeated " << text;
        }
        ASSERT_TRUE(customer["signatures"].isArray()) << document;
        for (const Json::Value& contract : customer["signatures"]) {
            expectWellTypedContract(contract, document);
        }
        if (customer.isMember("standard")) {
            expectWellTypedContract(customer["standard"], document + " standard");
        }
    }
}

TEST(ExampleCustomers, ReachEveryBranchOfTheCallFlow) {
    Json::Value root = loadExample();
    using ContractTest = std::function<bool(const Json::Value&)>;
    using CustomerTest = std::function<bool(const Json::Value&)>;
    auto state = [](const Json::Value& contract) { return contract["state"].asString(); };
    auto overdue = [](const Json::Value& contract) { return contract["overdueInvoices"].size(); };
    auto open = [](const Json::Value& contract) { return contract["invoices"].size(); };

    const std::vector<std::pair<const char*, ContractTest>> contractScenarios = {
        {"state unknown", [&](const Json::Value& c) { return state(c) == "unknown"; }},
        {"state without-connection", [&](const Json::Value& c) { return state(c) == "without-connection"; }},
        {"state paused", [&](const Json::Value& c) { return state(c) == "paused"; }},
        {"state canceled", [&](const Json::Value& c) { return state(c) == "canceled"; }},
        {"state no-wiring", [&](const Json::Value& c) { return state(c) == "no-wiring"; }},
        {"connected without invoices",
         [&](const Json::Value& c) { return state(c) == "connected" && overdue(c) == 0 && open(c) == 0; }},
        {"connected with an open invoice",
         [&](const Json::Value& c) { return state(c) == "connected" && overdue(c) == 0 && open(c) > 0; }},
        {"connected with overdue invoices",
         [&](const Json::Value& c) {
             return state(c) == "connected" && overdue(c) > 0 && allHaveBarCodes(c["overdueInvoices"]);
         }},
        {"overdue invoice without bar code",
         [&](const Json::Value& c) { return overdue(c) > 0 && !allHaveBarCodes(c["overdueInvoices"]); }},
        {"blocked with debt, unlockable",
         [&](const Json::Value& c) {
             return state(c) == "blocked" && overdue(c) > 0 && allHaveBarCodes(c["overdueInvoices"]) &&
                    c["canUnlock"].asBool();
         }},
        {"blocked with debt, not unlockable",
         [&](const Json::Value& c) {
             return state(c) == "blocked" && overdue(c) > 0 && allHaveBarCodes(c["overdueInvoices"]) &&
                    !c["canUnlock"].asBool();
         }},
        {"blocked without overdue invoices",
         [&](const Json::Value& c) { return state(c) == "blocked" && overdue(c) == 0; }},
        {"under maintenance until HH:MM",
         [&](const Json::Value& c) {
             const std::string end = c["endOfMaintenance"].asString();
             return c["underMaintenance"].asBool() && end.size() == 5 && end[2] == ':';
         }},
        {"custom forwarding", [&](const Json::Value& c) { return !c["forwarding"].asString().empty(); }},
    };
    const std::vector<std::pair<const char*, CustomerTest>> customerScenarios = {
        {"fixed protocol number", [](const Json::Value& c) { return c["externalId"].isString(); }},
        {"generated protocol number", [](const Json::Value& c) { return !c.isMember("externalId"); }},
        {"marks", [](const Json::Value& c) { return c["marks"].isObject() && c["marks"].size() > 0; }},
        {"several contracts to choose from",
         [](const Json::Value& c) { return c["signatures"].size() >= 2 && !c.isMember("standard"); }},
        {"a standard contract", [](const Json::Value& c) { return c["standard"].isObject(); }},
        {"no contracts", [](const Json::Value& c) { return c["signatures"].isArray() && c["signatures"].empty(); }},
        {"a CNPJ", [](const Json::Value& c) { return c["document"].asString().size() == 14; }},
        {"a mobile phone", [](const Json::Value& c) { return c["phones"][0].asString().size() == 11; }},
        {"a landline phone", [](const Json::Value& c) { return c["phones"][0].asString().size() == 10; }},
    };

    for (const auto& scenario : contractScenarios) {
        bool found = false;
        for (const Json::Value& customer : root["customers"]) {
            for (const Json::Value& contract : customer["signatures"]) {
                found = found || scenario.second(contract);
            }
        }
        EXPECT_TRUE(found) << "no contract for: " << scenario.first;
    }
    for (const auto& scenario : customerScenarios) {
        bool found = false;
        for (const Json::Value& customer : root["customers"]) {
            found = found || scenario.second(customer);
        }
        EXPECT_TRUE(found) << "no customer with: " << scenario.first;
    }
}
