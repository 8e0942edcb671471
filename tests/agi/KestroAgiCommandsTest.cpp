#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "agi/KestroAgi.h"
#include "tests/agi/PeerCall.h"
#include "tests/agi/WireFiles.h"
#include "util/CText.h"

using tarvik::KestroAgi;
using tarvik::testing::PeerCall;
using tarvik::testing::WireFiles;
using Lines = std::vector<std::string>;

TEST(KestroAgiCommands, EveryOperationSendsItsCommandText) {
    PeerCall call;
    KestroAgi& agi = call.begin();

    EXPECT_TRUE(agi.setLanguage("pt_BR"));
    EXPECT_FALSE(agi.setLanguage(nullptr));
    agi.verbose("hello %d%%", 50);
    agi.hangup();
    EXPECT_TRUE(agi.answer());
    EXPECT_TRUE(agi.sayDigits("123"));
    EXPECT_TRUE(agi.sayNumber("42"));
    EXPECT_TRUE(agi.sayNumber(-42));
    EXPECT_TRUE(agi.dial("Local/100@targets,10"));
    EXPECT_TRUE(agi.sayTime("1700000000"));
    EXPECT_TRUE(agi.setVariable("FOO", "bar"));
    EXPECT_TRUE(agi.setVariable("EMPTY", nullptr));
    EXPECT_FALSE(agi.isTerminated());
    EXPECT_TRUE(agi.transfer("Local/200@targets"));
    EXPECT_TRUE(agi.isTerminated());
    EXPECT_TRUE(agi.playback("/etc/tarvik/kestro/audios/Orvel-u4-01"));
    EXPECT_TRUE(agi.background("/etc/tarvik/kestro/audios/Orvel-u4-02"));
    agi.noop("trace %s", "x");
    EXPECT_TRUE(agi.goTo("ctx", "50001", "1"));
    EXPECT_TRUE(agi.jump("9000"));
    agi.setDefaultContext("alias");
    EXPECT_TRUE(agi.jump("9001"));
    EXPECT_TRUE(agi.exec("EXEC Set %s=%d", "N", 3));

    // Null texts are refused without a command.
    EXPECT_FALSE(agi.sayDigits(nullptr));
    EXPECT_FALSE(agi.sayNumber(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(agi.dial(nullptr));
    EXPECT_FALSE(agi.sayTime(nullptr));
    EXPECT_FALSE(agi.setVariable(nullptr, "x"));
    EXPECT_FALSE(agi.playback(nullptr));
    EXPECT_FALSE(agi.background(nullptr));
    EXPECT_FALSE(agi.jump(nullptr));
    EXPECT_FALSE(agi.goTo("ctx", nullptr, "1"));
    EXPECT_EQ(agi.getVariable(nullptr), nullptr);
    EXPECT_EQ(agi.input(nullptr, 1, 1, "beep", 1), nullptr);
    EXPECT_EQ(agi.evaluate(nullptr), nullptr);
    EXPECT_FALSE(agi.exec(nullptr));
    agi.verbose(nullptr);
    agi.noop(nullptr);

    agi.setTerminated(false);
    EXPECT_FALSE(agi.transfer(nullptr));
    EXPECT_FALSE(agi.isTerminated());

    EXPECT_EQ(call.end(), (Lines{
                              "VERBOSE \"Changing language to pt_BR\" 1",
                              "EXEC Set CHANNEL(language)=pt_BR",
                              "VERBOSE \"Failure on set language, language is null\" 1",
                              "VERBOSE \"hello 50%\" 1",
                              "HANGUP",
                              "VERBOSE \"Answer\" 1",
                              "ANSWER",
                              "SAY DIGITS 123 #",
                              "SAY NUMBER 42 #",
                              "SAY NUMBER -42 #",
                              "EXEC DIAL Local/100@targets,10",
                              "SAY TIME 1700000000 #",
                              "EXEC Set FOO=bar",
                              "EXEC Set EMPTY=",
                              "EXEC Transfer Local/200@targets",
                              "VERBOSE \"Playback: /etc/tarvik/kestro/audios/Orvel-u4-01\" 1",
                              "EXEC Playback \"/etc/tarvik/kestro/audios/Orvel-u4-01\"",
                              "VERBOSE \"Background: /etc/tarvik/kestro/audios/Orvel-u4-02\" 1",
                              "EXEC Background \"/etc/tarvik/kestro/audios/Orvel-u4-02\"",
                              "EXEC NoOp \"trace x\" 1",
                              "EXEC Goto ctx,50001,1",
                              "EXEC Goto tarvik-kestro-alias,9000,s",
                              "EXEC Goto alias,9001,s",
                              "EXEC Set N=3",
                          }));
}

TEST(KestroAgiCommands, SayTimeNowSendsTheCurrentEpochSecond) {
    PeerCall call;
    KestroAgi& agi = call.begin();
    long long before = static_cast<long long>(std::time(nullptr));
    EXPECT_TRUE(agi.sayTime("now"));
    long long after = static_cast<long long>(std::time(nullptr));
    Lines commands = call.end();
    ASSERT_EQ(commands.size(), 1u);
    long long sent = std::atoll(commands[0].c_str() + std::string("SAY TIME ").size());
    EXPECT_GE(sent, before);
    EXPECT_LE(sent, after);
    EXPECT_EQ(commands[0], "SAY TIME " + std::to_string(sent) + " #");
}

TEST(KestroAgiCommands, GetDataQuotesAnEmptyPrompt) {
    PeerCall call;
    KestroAgi& agi = call.begin();
    tarvik::CText none(agi.input("document", 14, 5, nullptr, 3));
    tarvik::CText empty(agi.input("document", 14, 5, "", 3));
    tarvik::CText named(agi.input("document", 1, 3, "beep", 3));
    Lines commands = call.end();
    ASSERT_EQ(commands.size(), 9u);  // each GET DATA is followed by its two log lines
    EXPECT_EQ(commands[0], "GET DATA \"\" 5000 14");
    EXPECT_EQ(commands[3], "GET DATA \"\" 5000 14");
    EXPECT_EQ(commands[6], "GET DATA beep 3000 1");
}

TEST(KestroAgiCommands, SeparatorsAndVersionFollowAgiVersion) {
    struct Case {
        const char* startup;
        int version;
        const char* jumpCommand;
    };
    const Case cases[] = {
        {"agi_version: 13.1.0\n\n", 13, "EXEC Goto tarvik-kestro-alias,9000,s"},
        {"agi_version: 22.10.1\n\n", 22, "EXEC Goto tarvik-kestro-alias,9000,s"},
        {"agi_version: 1.4.44\n\n", 4, "EXEC Goto tarvik-kestro-alias|9000|s"},
        {"agi_version: 1.8\n\n", 8, "EXEC Goto tarvik-kestro-alias,9000,s"},
        {"agi_version: 1.2.\n\n", 2, "EXEC Goto tarvik-kestro-alias|9000|s"},
        {"agi_version: \n\n", 0, "EXEC Goto tarvik-kestro-alias|9000|s"},
        {"agi_request: x\n\n", 1, "EXEC Goto tarvik-kestro-alias|9000|s"},
        {"agi_version: GIT-master-4c2b1a0\n\n", KestroAgi::kUnnumberedVersion,
         "EXEC Goto tarvik-kestro-alias,9000,s"},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.startup);
        WireFiles wire(one.startup);
        KestroAgi agi(wire.input(), wire.output());
        EXPECT_EQ(agi.getAsteriskVersion(), one.version);
        agi.jump("9000");
        EXPECT_EQ(wire.writtenLines(), Lines{one.jumpCommand});
    }
}

TEST(KestroAgiCommands, StartupVariablesAreLookedUpByExactKey) {
    WireFiles wire("agi_callerid:   551\n agi_uniqueid: 17.3\nagi_accountcode: \n\n");
    KestroAgi agi(wire.input(), wire.output());
    EXPECT_STREQ(agi.getAsteriskVariable("agi_callerid"), "551");
    EXPECT_EQ(agi.getAsteriskVariable("agi_uniqueid"), nullptr);
    EXPECT_STREQ(agi.getAsteriskVariable(" agi_uniqueid"), "17.3");
    EXPECT_STREQ(agi.getAsteriskVariable("agi_accountcode"), "");
    EXPECT_EQ(agi.getAsteriskVariable(nullptr), nullptr);
    EXPECT_TRUE(wire.written().empty());
}
