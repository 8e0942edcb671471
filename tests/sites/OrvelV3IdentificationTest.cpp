#include <gtest/gtest.h>

#include "model/ISPClient.h"
#include "sites/orvel/OrvelV3.h"
#include "tests/sites/SiteTestSupport.h"

namespace tarvik::testing {
namespace {

using Call = SiteCall<OrvelV3>;
using Lines = std::vector<std::string>;

constexpr const char* kNoEvents = R"("feature": {"eventManager": false},)";

TEST(OrvelV3IdentificationTest, WrongAnswersGetTheirOwnPromptsUntilTheLimit) {
    Call call(kNoEvents);
    call.session.queueNoAnswer("is_client");
    call.session.queueInput("is_client", "5");
    call.session.queueInput("is_client", "");

    EXPECT_FALSE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(),
              (Lines{"is_client 14 Orvel-u4-04", "is_client 14 Orvel-u4-56", "is_client 14 Orvel-u4-55"}));
    auto steps = call.session.callSteps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps[steps.size() - 2], std::string("background ") + kAudio + "Orvel-u4-54");
    EXPECT_EQ(steps.back(), "goTo ctx 50002 1");
    EXPECT_TRUE(call.logged("did not inform if it is a client, attempt limit"));
    EXPECT_TRUE(call.requests().empty());
}

TEST(OrvelV3IdentificationTest, TwoIsAWrongAnswerAndOneWantsThePlans) {
    Call call(kNoEvents);
    call.session.queueInput("is_client", "2");
    call.session.queueInput("is_client", "1");

    EXPECT_FALSE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(), (Lines{"is_client 14 Orvel-u4-04", "is_client 14 Orvel-u4-55"}));
    EXPECT_EQ(call.lastStep(), "goTo ctx 50001 1");
    EXPECT_TRUE(call.logged("quer conhecer os planos"));
    EXPECT_TRUE(call.session.operationsNamed("background").empty());
}

TEST(OrvelV3IdentificationTest, DocumentTypedAtTheFirstQuestionIsLookedUpAtOnce) {
    Call call;
    call.session.queueInput("is_client", kKnownDocument);

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(), Lines{"is_client 14 Orvel-u4-04"});
    EXPECT_TRUE(call.logged("requested document, attempt 0,  document: '12345678901'"));
    EXPECT_TRUE(call.logged("typed cpf_ou_cnpj: '12345678901'"));
    EXPECT_TRUE(call.logged("client found by document: '12345678901'"));
    EXPECT_EQ(call.session.operationsNamed("background"), Lines{std::string("background ") + kAudio + "Orvel-u4-57"});

    ASSERT_NE(call.module.client, nullptr);
    EXPECT_EQ(call.module.client->getDocument(), kKnownDocument);
    EXPECT_EQ(call.module.document, kKnownDocument);
    // Lookup by document, then the identification is saved.
    EXPECT_EQ(call.requests(),
              (Lines{std::string("GET ") + kDocumentPath + kKnownDocument, "POST /service/v1/identification"}));
    const auto sent = call.server.requests();
    EXPECT_EQ(sent[0].header("x-ivr-phone"), kCallerId);
    EXPECT_EQ(sent[0].header("x-ivr-protocol"), "1700000000.9");
}

TEST(OrvelV3IdentificationTest, LaterPassesAskAgainWithThePromptThatFits) {
    Call call(R"("feature": {"selfUpdateClientPhoneNumber": false},)");
    call.session.queueInput("is_client", "99988877766");  // unknown to the back office
    call.session.queueNoAnswer("document");
    call.session.queueInput("document", kKnownDocument);

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(),
              (Lines{"is_client 14 Orvel-u4-04", "document 14 Orvel-u4-06", "document 14 Orvel-u4-07"}));
    EXPECT_TRUE(call.logged("requested document, attempt 1,  document: ''"));
    EXPECT_TRUE(call.logged("requested document, attempt 2,  document: '12345678901'"));
    // "Orvel-u4-57" before each of the two lookups, none for the empty pass.
    EXPECT_EQ(call.session.operationsNamed("background").size(), 2u);
    EXPECT_EQ(call.requests(), (Lines{std::string("GET ") + kDocumentPath + "99988877766",
                                      std::string("GET ") + kDocumentPath + kKnownDocument}));
    ASSERT_NE(call.module.client, nullptr);
}

TEST(OrvelV3IdentificationTest, ThreePassesWithoutClientStillGoOn) {
    Call call(kNoEvents);
    call.session.queueInput("is_client", "11111111111");
    call.session.queueInput("document", "22222222222");
    call.session.queueInput("document", "33333333333");

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.questions(),
              (Lines{"is_client 14 Orvel-u4-04", "document 14 Orvel-u4-06", "document 14 Orvel-u4-06"}));
    EXPECT_EQ(call.module.client, nullptr);
    EXPECT_EQ(call.module.document, "33333333333");
    // Three lookups; the save of the identification is refused by the client
    // itself for want of a customer, so nothing more is sent.
    EXPECT_EQ(call.requests().size(), 3u);
    EXPECT_TRUE(call.logged("client is invalid"));
}

TEST(OrvelV3IdentificationTest, ServerNotReadyStopsBeforeAnyLookup) {
    Call call(kNoEvents);
    call.module.apiReady = false;
    call.session.queueInput("is_client", kKnownDocument);

    EXPECT_FALSE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.lastStep(), "goTo ctx 50003 1");
    EXPECT_TRUE(call.logged("is client, but server is not ready"));
    EXPECT_TRUE(call.requests().empty());
    EXPECT_TRUE(call.session.operationsNamed("background").empty());
}

TEST(OrvelV3IdentificationTest, EscapeCodeLeavesWithOrWithoutRemoteLog) {
    {
        Call call(R"("escapeCode": "0000",)");
        call.session.queueInput("is_client", "0000");

        EXPECT_FALSE(call.module.phaseIsClient(call.session));
        EXPECT_EQ(call.lastStep(), "goTo ctx 50004 1");
        // "Orvel-u4-57" comes before the escape-code test.
        EXPECT_TRUE(hasLine(call.session.callSteps(), std::string("background ") + kAudio + "Orvel-u4-57"));
        EXPECT_EQ(call.requests(), (Lines{"POST /service/v1/logger", "POST /service/v1/logger",
                                          "POST /service/v1/integration/log"}));
        auto entries = call.logEntries();
        EXPECT_EQ(entries[0]["destination"].asString(), "main");
        EXPECT_EQ(entries[0]["eventType"].asString(), "forward-by-scape-code");
        EXPECT_EQ(entries[0]["data1"].asString(), "0000");
        EXPECT_EQ(entries[0]["data2"].asString(), kCallerId);
        EXPECT_EQ(entries[1]["destination"].asString(), "50004");
        EXPECT_EQ(entries[1]["eventType"].asString(), "forward");
    }
    {
        Call call(R"("escapeCode": "0000", "feature": {"eventManager": false},)");
        call.session.queueInput("is_client", "0000");
        EXPECT_FALSE(call.module.phaseIsClient(call.session));
        EXPECT_EQ(call.lastStep(), "goTo ctx 50004 1");
        EXPECT_TRUE(call.requests().empty());
    }
    {
        // One digit more is a document like any other.
        Call call(R"("escapeCode": "0000", "feature": {"eventManager": false},)");
        call.session.queueInput("is_client", "00001");
        call.session.queueNoAnswer("document");
        call.session.queueNoAnswer("document");
        EXPECT_TRUE(call.module.phaseIsClient(call.session));
        EXPECT_EQ(call.requests(), Lines{std::string("GET ") + kDocumentPath + "00001"});
    }
}

TEST(OrvelV3IdentificationTest, LookupSwitchedOffClearsTheClientEveryPass) {
    Call call(R"("feature": {"findClientByDocument": false, "eventManager": false},)");
    call.module.client.reset(new ISPClient());
    call.session.queueInput("is_client", kKnownDocument);
    call.session.queueInput("document", kKnownDocument);
    call.session.queueInput("document", kKnownDocument);

    EXPECT_TRUE(call.module.phaseIsClient(call.session));
    EXPECT_EQ(call.module.client, nullptr);
    EXPECT_EQ(call.questions(),
              (Lines{"is_client 14 Orvel-u4-04", "document 14 Orvel-u4-06", "document 14 Orvel-u4-06"}));
    EXPECT_TRUE(call.requests().empty());
}

}  // namespace
}  // namespace tarvik::testing
