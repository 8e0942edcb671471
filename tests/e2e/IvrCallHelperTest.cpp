#include <gtest/gtest.h>

#include "tests/support/IvrCall.h"

namespace tarvik::testing {
namespace {

// The helper itself: answers by prompt and in order, journal of this call only,
// configuration overrides merged into the example.
TEST(IvrCallHelper, AnswersPromptsAndCollectsTheJournalOfOneCall) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    IvrCall call;
    call.arguments = {"atendimento", office.writeConfig(R"({"feature": {"eventManager": false}, "profile": null})")};
    call.answersByPrompt["Orvel-u4-33"] = "1";
    IvrCallResult first = runIvrCall(office, call);
    EXPECT_EQ(first.exitStatus(), 0);
    EXPECT_EQ(first.lastGoto(), "EXEC Goto ivr-exits,50011,1");
    EXPECT_EQ(first.prompts(), std::vector<std::string>{"Orvel-u4-33"});
    EXPECT_TRUE(first.requests("logger").empty());
    ASSERT_EQ(first.requests("send").size(), 1u);
    EXPECT_EQ(first.requests("send")[0].body["contract"].asString(), "CT-100201");

    call.answersByPrompt.clear();
    call.answersInOrder = {""};
    IvrCallResult second = runIvrCall(office, call);
    EXPECT_EQ(second.lastGoto(), "EXEC Goto ivr-exits,50010,1");
    EXPECT_EQ(second.journal.size(), first.journal.size() - 1);  // no send
    EXPECT_EQ(office.journal().size(), first.journal.size() + second.journal.size());
}

TEST(IvrCallHelper, RecognisesOneCommandPerLine) {
    for (const char* line : {"ANSWER", "VERBOSE \"Answer\" 1", "EXEC Goto ivr-exits,50011,1", "SAY NUMBER 20 #",
                             "GET DATA /etc/tarvik/kestro/audios/Orvel-u4-33 5000 1", "EXEC Set TARVIK_API_ID=1"}) {
        EXPECT_TRUE(isOneAgiCommand(line)) << line;
    }
    for (const char* line : {"", "VERBOSE \"a\" 1ANSWER", "VERBOSE \"a\"b\" 1", "ANSWER ANSWER",
                             "EXEC Goto ivr-exits,50011,1 EXEC Goto x,y,z", "GET DATA a b c"}) {
        EXPECT_FALSE(isOneAgiCommand(line)) << line;
    }
    EXPECT_EQ(promptOf("GET DATA /etc/tarvik/kestro/audios/Orvel-u4-04 5000 14"), "Orvel-u4-04");
    EXPECT_EQ(promptOf("GET DATA beep 5000 1"), "beep");
    EXPECT_EQ(promptOf("ANSWER"), "");
}

}  // namespace
}  // namespace tarvik::testing
