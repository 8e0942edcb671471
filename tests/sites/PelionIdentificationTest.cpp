#include <gtest/gtest.h>

#include "model/ISPClient.h"
#include "sites/pelion/Pelion.h"
#include "tests/sites/SiteTestSupport.h"

namespace tarvik::testing {
namespace {

using Call = SiteCall<Pelion>;
using Lines = std::vector<std::string>;

constexpr const char* kNoEvents = R"("feature": {"eventManager": false},)";

TEST(PelionIdentificationTest, LimitGoesStraightToItsExitWithTheSamePrompt) {
    Call call(kNoEvents);
    call.session.queueNoAnswer("is_client");
    call.session.queueInput("is_client", "5");
    call.session.queueInput("is_client", "");

    EXPECT_FALSE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(),
              (Lines{"is_client 1 Orvel-u4-04", "is_client 1 Orvel-u4-04", "is_client 1 Orvel-u4-04"}));
    // No "Orvel-u4-54" (nor anything else) before the exit.
    EXPECT_TRUE(call.session.operationsNamed("background").empty());
    EXPECT_EQ(call.lastStep(), "goTo ctx 50002 1");
    EXPECT_TRUE(call.logged("did not inform if it is a client, attempt limit"));
}

TEST(PelionIdentificationTest, OneWantsThePlans) {
    Call call(kNoEvents);
    call.session.queueInput("is_client", "3");
    call.session.queueInput("is_client", "1");

    EXPECT_FALSE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.lastStep(), "goTo ctx 50001 1");
    EXPECT_TRUE(call.logged("quer conhecer os planos"));
}

TEST(PelionIdentificationTest, TwoAfterWrongAnswersLeadsToALongDocument) {
    const std::string longDocument = "12345678901234567";
    Call call(kNoEvents);
    call.server.answer("GET", std::string(kDocumentPath) + longDocument, 200,
                       R"({"document":")" + longDocument + R"("})");
    call.session.queueInput("is_client", "3");
    call.session.queueInput("is_client", "3");
    call.session.queueInput("is_client", "2");
    call.session.queueInput("document", longDocument);

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(), (Lines{"is_client 1 Orvel-u4-04", "is_client 1 Orvel-u4-04",
                                       "is_client 1 Orvel-u4-04", "document 17 Orvel-u4-05"}));
    EXPECT_EQ(call.module.document, longDocument);
    EXPECT_TRUE(call.logged("requested document, attempt 0,  document: '" + longDocument + "'"));
    EXPECT_TRUE(call.logged("typed cpf_ou_cnpj: '" + longDocument + "'"));
    EXPECT_TRUE(call.logged("client found by document: '" + longDocument + "'"));
    // No prompt before the lookup in this module.
    EXPECT_TRUE(call.session.operationsNamed("background").empty());
    EXPECT_EQ(call.requests(),
              (Lines{"GET " + std::string(kDocumentPath) + longDocument, "POST /service/v1/identification"}));
    ASSERT_NE(call.module.client, nullptr);
}

TEST(PelionIdentificationTest, LaterPassesAskAgainWithThePromptThatFits) {
    Call call(kNoEvents);
    call.session.queueInput("is_client", "2");
    call.session.queueInput("document", "99988877766");
    call.session.queueNoAnswer("document");
    call.session.queueInput("document", kKnownDocument);

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(), (Lines{"is_client 1 Orvel-u4-04", "document 17 Orvel-u4-05",
                                       "document 17 Orvel-u4-06", "document 17 Orvel-u4-07"}));
    EXPECT_TRUE(call.logged("requested document, attempt 1,  document: ''"));
    ASSERT_NE(call.module.client, nullptr);
    EXPECT_EQ(call.module.client->getDocument(), kKnownDocument);
}

TEST(PelionIdentificationTest, KnownDocumentIsUsedWithoutAskingInTheFirstPass) {
    Call call(kNoEvents);
    call.module.document = kKnownDocument;
    call.session.queueInput("is_client", "2");

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(), Lines{"is_client 1 Orvel-u4-04"});
    ASSERT_NE(call.module.client, nullptr);
}

TEST(PelionIdentificationTest, ServerNotReadyStopsBeforeTheDocumentQuestion) {
    Call call(kNoEvents);
    call.module.apiReady = false;
    call.session.queueInput("is_client", "2");

    EXPECT_FALSE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(), Lines{"is_client 1 Orvel-u4-04"});
    EXPECT_EQ(call.lastStep(), "goTo ctx 50003 1");
    EXPECT_TRUE(call.requests().empty());
}

TEST(PelionIdentificationTest, EscapeCodeLeavesWithOrWithoutRemoteLog) {
    {
        Call call(R"("escapeCode": "0000",)");
        call.session.queueInput("is_client", "2");
        call.session.queueInput("document", "0000");

        EXPECT_FALSE(call.module.phaseIsClient(call.session));
        EXPECT_EQ(call.lastStep(), "goTo ctx 50004 1");
        EXPECT_TRUE(call.logged("typed document, but client not found"));
        auto entries = call.logEntries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0]["eventType"].asString(), "forward-by-scape-code");
        EXPECT_EQ(entries[0]["data1"].asString(), "0000");
        EXPECT_EQ(entries[0]["data2"].asString(), kCallerId);
        EXPECT_EQ(call.requests().size(), 3u);  // two log entries and the event
    }
    {
        Call call(R"("escapeCode": "0000", "feature": {"eventManager": false},)");
        call.session.queueInput("is_client", "2");
        call.session.queueInput("document", "0000");
        EXPECT_FALSE(call.module.phaseIsClient(call.session));
        EXPECT_EQ(call.lastStep(), "goTo ctx 50004 1");
        EXPECT_TRUE(call.requests().empty());
    }
}

TEST(PelionIdentificationTest, LookupSwitchedOffNeverIdentifies) {
    Call call(R"("feature": {"findClientByDocument": false, "selfUpdateClientPhoneNumber": false},)");
    call.session.queueInput("is_client", "2");
    call.session.queueInput("document", kKnownDocument);
    call.session.queueInput("document", kKnownDocument);
    call.session.queueInput("document", kKnownDocument);

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.module.client, nullptr);
    EXPECT_EQ(call.questions(), (Lines{"is_client 1 Orvel-u4-04", "document 17 Orvel-u4-05",
                                       "document 17 Orvel-u4-06", "document 17 Orvel-u4-06"}));
    EXPECT_TRUE(call.requests().empty());
}

}  // namespace
}  // namespace tarvik::testing
