#include <gtest/gtest.h>

#include "model/ISPClient.h"
#include "model/ISPInvoice.h"
#include "model/ISPSignature.h"

namespace tarvik {
namespace {

ISPInvoice* invoiceWithBarCode(const std::string& barCode) {
    auto* invoice = new ISPInvoice();
    invoice->setBarCode(barCode);
    return invoice;
}

TEST(ISPSignatureTest, DefaultsCountAsBlockedAndUnlockable) {
    ISPSignature signature;
    EXPECT_EQ(ISPSignature::UNKNOWN, signature.getState());
    EXPECT_TRUE(signature.isBlocked());
    EXPECT_TRUE(signature.itCanUnlock());
    EXPECT_FALSE(signature.isUnderMaintenance());
    EXPECT_FALSE(signature.hasForwarding());
    EXPECT_FALSE(signature.hasOverdueInvoices());
    EXPECT_FALSE(signature.hasInvoiceExpired());

    ISPInvoice invoice;
    EXPECT_EQ(0, invoice.getDueDate());
    EXPECT_EQ(0.0, invoice.getPrice());
    EXPECT_EQ(0.0, invoice.getOriginalPrice());
    EXPECT_TRUE(invoice.getBarCode().empty());
}

TEST(ISPSignatureTest, ConnectionStateVocabularyBothWays) {
    const char* names[] = {"unknown", "without-connection", "connected", "paused", "blocked", "canceled", "no-wiring"};
    for (int value = 0; value < 7; ++value) {
        const auto state = static_cast<ISPSignature::ConnectionState>(value);
        EXPECT_EQ(names[value], ISPSignature::toConnectionStateString(state));
        EXPECT_EQ(state, ISPSignature::fromConnectionStateString(names[value]));
    }
    EXPECT_EQ("unknown", ISPSignature::toConnectionStateString(static_cast<ISPSignature::ConnectionState>(7)));
    EXPECT_EQ("unknown", ISPSignature::toConnectionStateString(static_cast<ISPSignature::ConnectionState>(-1)));
    for (const char* text : {"CONNECTED", "Paused", "cancelled", "", "connected "}) {
        EXPECT_EQ(ISPSignature::UNKNOWN, ISPSignature::fromConnectionStateString(text)) << text;
    }
    EXPECT_EQ(3, ISPSignature::PAUSED);
    EXPECT_EQ(6, ISPSignature::NO_WIRING);
}

TEST(ISPSignatureTest, ExpiredLooksOnlyAtOverdueInvoices) {
    ISPSignature signature;
    signature.putInvoice(invoiceWithBarCode(""));
    signature.putOverdueInvoice(invoiceWithBarCode("8369 0000"));
    signature.putOverdueInvoice(invoiceWithBarCode("8369 0001"));
    EXPECT_TRUE(signature.hasOverdueInvoices());
    EXPECT_FALSE(signature.hasInvoiceExpired());

    signature.putOverdueInvoice(invoiceWithBarCode(""));
    EXPECT_TRUE(signature.hasInvoiceExpired());

    signature.putInvoice(nullptr);
    signature.putOverdueInvoice(nullptr);
    EXPECT_EQ(1u, signature.getInvoices().size());
    EXPECT_EQ(3u, signature.getOverdueInvoices().size());
    EXPECT_EQ("8369 0000", signature.getOverdueInvoices()[0]->getBarCode());

    signature.setForwarding("7000");
    EXPECT_TRUE(signature.hasForwarding());
}

TEST(ISPClientTest, EmailsAndPhonesKeepFirstOfByteEqualTexts) {
    ISPClient client;
    client.putEmail("ana@example.com");
    client.putEmail("ana@example.com");
    client.putEmail("Ana@example.com");
    EXPECT_EQ((std::vector<std::string>{"ana@example.com", "Ana@example.com"}), client.getEmails());

    client.putPhone("(11) 98765-4321");
    client.putPhone("11987654321");
    client.putPhone("(11) 98765-4321");
    EXPECT_EQ((std::vector<std::string>{"(11) 98765-4321", "11987654321"}), client.getPhones());

    client.setMarks({{"vip", "1"}, {"Region", "sul"}});
    EXPECT_EQ("Region", client.getMarks().begin()->first);  // byte order: capitals first
}

TEST(ISPClientTest, IsMobileLooksAtTheNinthCharacterFromTheEnd) {
    EXPECT_TRUE(ISPClient::isMobile("912345678"));
    EXPECT_TRUE(ISPClient::isMobile("11987654321"));
    EXPECT_FALSE(ISPClient::isMobile("1132654321"));
    EXPECT_TRUE(ISPClient::isMobile("1932654321"));  // ten characters: the second one
    EXPECT_FALSE(ISPClient::isMobile("99999999"));
    EXPECT_FALSE(ISPClient::isMobile(""));
}

TEST(ISPClientTest, OwnsListedSignaturesAndAnAdoptedStandardOnce) {
    // ASan reports a leak or a double free if any of this is owned wrongly.
    auto client = std::make_unique<ISPClient>();
    auto* first = new ISPSignature();
    first->setId("10");
    first->putInvoice(invoiceWithBarCode("1"));
    first->putOverdueInvoice(invoiceWithBarCode(""));
    client->putSignature(first);
    client->putSignature(nullptr);
    client->putSignature(first);  // the same object is not listed twice
    auto* second = new ISPSignature();
    second->setId("10");  // equal ids are separate contracts
    client->putSignature(second);
    ASSERT_EQ(2u, client->getSignatures().size());
    EXPECT_EQ(nullptr, client->getStandard());

    // A separate standard (the document's own) is adopted; replacing it by a
    // listed one keeps it alive until the client goes.
    auto* separate = new ISPSignature();
    separate->setId("10");
    client->setStandard(separate);
    client->setStandard(separate);
    EXPECT_EQ(separate, client->getStandard());
    EXPECT_EQ(2u, client->getSignatures().size());
    client->setStandard(second);
    EXPECT_EQ(second, client->getStandard());
    EXPECT_EQ("10", separate->getId());
    client->setStandard(separate);
    client->setStandard(nullptr);
    EXPECT_EQ(nullptr, client->getStandard());

    // An adopted standard that later joins the list is owned once.
    client->setStandard(separate);
    client->putSignature(separate);
    EXPECT_EQ(3u, client->getSignatures().size());
    EXPECT_EQ(separate, client->getStandard());
    client.reset();
}

}  // namespace
}  // namespace tarvik
