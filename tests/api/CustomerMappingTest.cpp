#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <json/json.h>

#include "api/CustomerJsonMapping.h"
#include "api/HttpClient.h"
#include "agi/RecordingSession.h"

namespace tarvik {
namespace {


Json::Value parse(const std::string& text) {
    Json::Value value;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, value)) << text;
    return value;
}

std::unique_ptr<ISPClient> mapClient(RecordingSession& session, const std::string& text) {
    Json::Value value = parse(text);
    return std::unique_ptr<ISPClient>(HttpClient::getClientFromJson(session, value));
}

std::unique_ptr<ISPSignature> mapSignature(RecordingSession& session, const std::string& text) {
    Json::Value value = parse(text);
    return std::unique_ptr<ISPSignature>(HttpClient::getSignatureFromJson(session, value));
}

std::unique_ptr<ISPInvoice> mapInvoice(RecordingSession& session, const std::string& text) {
    Json::Value value = parse(text);
    return std::unique_ptr<ISPInvoice>(HttpClient::getInvoiceFromJson(session, value));
}

// Puts the process in a fixed time zone for one test and restores it after.
class FixedTimeZone {
public:
    explicit FixedTimeZone(const char* zone) {
        if (const char* current = std::getenv("TZ")) saved = current;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~FixedTimeZone() {
        if (saved) {
            setenv("TZ", saved->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> saved;
};

TEST(CustomerMappingTest, MapsAWholeDocumentInOrderAndKeepsTheStandardSeparate) {
    RecordingSession session;
    auto client = mapClient(session, R"({
        "id": "c-1", "name": "Maria", "document": "12345678901", "extra": {"ignored": true},
        "emails": ["a@x.br", 7, "A@x.br", "a@x.br", null],
        "phones": ["11999990000", false, "11999990000", "1133334444"],
        "marks": {"vip": "yes", "flag": true, "level": 3, "area": "sul"},
        "signatures": [
            {"id": "s-1", "addressNumber": "Rua A, 10", "state": "paused", "blocked": false,
             "canUnlock": false, "underMaintenance": true, "endOfMaintenance": "amanha 18h",
             "forwarding": "7000",
             "overdueInvoices": [{"id": "o-1", "barCode": ""}, "junk", {"id": "o-2", "barCode": "8"}],
             "invoices": [{"id": "i-1", "number": "N1", "pdf": "p.pdf", "barCode": "123", "price": 99.9,
                           "originalPrice": 10}]},
            42, "text", null, [],
            {"id": "s-2"}
        ],
        "standard": {"id": "s-1", "state": "connected"}
    })");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->getId(), "c-1");
    EXPECT_EQ(client->getName(), "Maria");
    EXPECT_EQ(client->getDocument(), "12345678901");
    EXPECT_EQ(client->getEmails(), (std::vector<std::string>{"a@x.br", "A@x.br"}));
    EXPECT_EQ(client->getPhones(), (std::vector<std::string>{"11999990000", "1133334444"}));
    EXPECT_EQ(client->getMarks(), (std::map<std::string, std::string>{{"area", "sul"}, {"vip", "yes"}}));

    ASSERT_EQ(client->getSignatures().size(), 2u);
    const ISPSignature& first = *client->getSignatures()[0];
    EXPECT_EQ(first.getId(), "s-1");
    EXPECT_EQ(first.getAddressNumber(), "Rua A, 10");
    EXPECT_EQ(first.getState(), ISPSignature::PAUSED);
    EXPECT_FALSE(first.isBlocked());
    EXPECT_FALSE(first.itCanUnlock());
    EXPECT_TRUE(first.isUnderMaintenance());
    EXPECT_EQ(first.getEndOfMaintenance(), "amanha 18h");
    EXPECT_EQ(first.getForwarding(), "7000");
    ASSERT_EQ(first.getOverdueInvoices().size(), 2u);
    EXPECT_EQ(first.getOverdueInvoices()[0]->getId(), "o-1");
    EXPECT_EQ(first.getOverdueInvoices()[1]->getId(), "o-2");
    EXPECT_TRUE(first.hasInvoiceExpired());
    ASSERT_EQ(first.getInvoices().size(), 1u);
    const ISPInvoice& invoice = *first.getInvoices()[0];
    EXPECT_EQ(invoice.getNumber(), "N1");
    EXPECT_EQ(invoice.getPdf(), "p.pdf");
    EXPECT_EQ(invoice.getBarCode(), "123");
    // Held at single precision, widened: the nearest float to 99.9.
    EXPECT_EQ(invoice.getPrice(), 99.90000152587890625);
    EXPECT_EQ(invoice.getOriginalPrice(), 10.0);
    EXPECT_EQ(client->getSignatures()[1]->getId(), "s-2");

    // Same id as a listed contract, yet its own record (freed by the client).
    ASSERT_NE(client->getStandard(), nullptr);
    EXPECT_NE(client->getStandard(), client->getSignatures()[0].get());
    EXPECT_EQ(client->getStandard()->getId(), "s-1");
    EXPECT_EQ(client->getStandard()->getState(), ISPSignature::CONNECTED);

    EXPECT_TRUE(session.operations().empty());
}

TEST(CustomerMappingTest, MistypedKeysKeepTheirDefaults) {
    RecordingSession session;
    auto signature = mapSignature(session, R"({
        "id": 5, "forwarding": null, "addressNumber": true, "state": "Paused",
        "blocked": "false", "canUnlock": 0, "underMaintenance": "true", "endOfMaintenance": 12,
        "overdueInvoices": {"id": "x"}, "invoices": "none"})");
    ASSERT_NE(signature, nullptr);
    EXPECT_EQ(signature->getId(), "");
    EXPECT_EQ(signature->getForwarding(), "");
    EXPECT_EQ(signature->getAddressNumber(), "");
    EXPECT_EQ(signature->getState(), ISPSignature::UNKNOWN);
    EXPECT_TRUE(signature->isBlocked());
    EXPECT_TRUE(signature->itCanUnlock());
    EXPECT_FALSE(signature->isUnderMaintenance());
    EXPECT_EQ(signature->getEndOfMaintenance(), "");
    EXPECT_TRUE(signature->getOverdueInvoices().empty());
    EXPECT_TRUE(signature->getInvoices().empty());

    auto invoice = mapInvoice(session, R"({"id": 1, "number": 2, "pdf": false, "barCode": null,
        "price": "10", "originalPrice": true, "dueDate": 20240305})");
    ASSERT_NE(invoice, nullptr);
    EXPECT_EQ(invoice->getId(), "");
    EXPECT_EQ(invoice->getNumber(), "");
    EXPECT_EQ(invoice->getPdf(), "");
    EXPECT_EQ(invoice->getBarCode(), "");
    EXPECT_EQ(invoice->getPrice(), 0.0);
    EXPECT_EQ(invoice->getOriginalPrice(), 0.0);
    EXPECT_EQ(invoice->getDueDate(), 0);

    // A real outside the single-precision range has no float value: absent.
    auto huge = mapInvoice(session, R"({"price": 1e39, "originalPrice": -1e300})");
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->getPrice(), 0.0);
    EXPECT_EQ(huge->getOriginalPrice(), 0.0);

    auto client = mapClient(session, R"({"document": "9", "emails": "a@x.br", "phones": {"0": "1"},
        "marks": ["vip"], "signatures": {"id": "s"}, "standard": [{"id": "s"}], "name": null})");
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->getDocument(), "9");
    EXPECT_EQ(client->getName(), "");
    EXPECT_TRUE(client->getEmails().empty());
    EXPECT_TRUE(client->getPhones().empty());
    EXPECT_TRUE(client->getMarks().empty());
    EXPECT_TRUE(client->getSignatures().empty());
    EXPECT_EQ(client->getStandard(), nullptr);

    auto paused = mapSignature(session, R"({"state": "paused", "blocked": false})");
    EXPECT_EQ(paused->getState(), ISPSignature::PAUSED);
    EXPECT_FALSE(paused->isBlocked());

    EXPECT_TRUE(session.operations().empty());
}

TEST(CustomerMappingTest, NonObjectsGiveNullSilentlyAndAStandardNeedsNoList) {
    RecordingSession session;
    for (const char* text : {"[]", "7", "\"x\"", "null", "true"}) {
        Json::Value value = parse(text);
        EXPECT_EQ(HttpClient::getClientFromJson(session, value), nullptr) << text;
        EXPECT_EQ(HttpClient::getSignatureFromJson(session, value), nullptr) << text;
        EXPECT_EQ(HttpClient::getInvoiceFromJson(session, value), nullptr) << text;
    }
    EXPECT_TRUE(session.operations().empty());

    auto client = mapClient(session, R"({"document": "1", "signatures": [1, "a"], "standard": {"id": "std"}})");
    ASSERT_NE(client, nullptr);
    EXPECT_TRUE(client->getSignatures().empty());
    ASSERT_NE(client->getStandard(), nullptr);
    EXPECT_EQ(client->getStandard()->getId(), "std");
}

TEST(CustomerMappingTest, DueDateIsLocalMidnightOfTheDate) {
    {
        FixedTimeZone zone("<-03>3");  // three hours behind UTC, no daylight saving
        RecordingSession session;
        auto plain = mapInvoice(session, R"({"dueDate": "2024-03-05"})");
        EXPECT_EQ(plain->getDueDate(), 1709607600);  // 2024-03-05 03:00 UTC
        auto withTime = mapInvoice(session, R"({"dueDate": "2024-03-05T23:59:59-05:00"})");
        EXPECT_EQ(withTime->getDueDate(), 1709607600);
        auto leapDay = mapInvoice(session, R"({"dueDate": "2024-02-30"})");
        EXPECT_EQ(leapDay->getDueDate(), 1709262000);  // normalised to 2024-03-01
    }
    {
        FixedTimeZone zone("UTC0");
        RecordingSession session;
        auto plain = mapInvoice(session, R"({"dueDate": "2024-03-05"})");
        EXPECT_EQ(plain->getDueDate(), 1709596800);
    }
}

TEST(CustomerMappingTest, UnparseableDueDateKeepsTheOtherFieldsWithoutADate) {
    RecordingSession session;
    for (const char* text : {"", "05/03/2024", "2024-03"}) {
        Json::Value value(Json::objectValue);
        value["id"] = "inv-1";
        value["price"] = 89.9;
        value["barCode"] = "8364";
        value["dueDate"] = text;
        std::unique_ptr<ISPInvoice> invoice(CustomerJsonMapping::toInvoice(session, value));
        ASSERT_NE(invoice, nullptr) << text;
        EXPECT_FALSE(invoice->hasDueDate()) << text;
        EXPECT_EQ(invoice->getId(), "inv-1") << text;
        EXPECT_EQ(invoice->getBarCode(), "8364") << text;
        EXPECT_NEAR(invoice->getPrice(), 89.9, 1e-5) << text;
    }
    // An absent due date keeps the default, which is a date.
    EXPECT_TRUE(mapInvoice(session, R"({"id": "x"})")->hasDueDate());
}

}  // namespace
}  // namespace tarvik
