#include "emulator/KestroAgiEmulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/emulator/EmulatorTestSupport.h"
#include "util/CText.h"

namespace tarvik::testing {
namespace {

const char* kRobot =
    "<?xml version=\"1.0\"?>\n"
    "<kestro-agi>\n"
    "  <agis>\n"
    "    <agi variable=\"agi_callerid\" value=\"5511999990000\"/>\n"
    "    <agi variable=\"agi_version\" value=\"1.4.44\"/>\n"
    "  </agis>\n"
    "  <inputs>\n"
    "    <input variable=\"document\" value=\"12345678909\"/>\n"
    "  </inputs>\n"
    "</kestro-agi>\n";

// A small module: what a call flow does with its session, start to end.
void playSmallCall(KestroAgiImpl& session) {
    session.answer();
    session.setLanguage("pt_BR");
    session.verbose("call from %s", "test");
    CText caller(session.getVariable("agi_callerid"));
    session.noop("caller=%s", caller.get());
    session.background("/etc/tarvik/kestro/audios/Orvel-u4-01");
    CText document(session.input("document", 14, 5, "Orvel-u4-02", 3));
    CText contract(session.input("contract", 1, 5, nullptr, 2));
    session.sayDigits(document.get());
    session.sayNumber(-42);
    session.setVariable("ORVEL_IVR_DOCUMENT", document.get());
    session.playback("Orvel-u4-03");
    session.jump("9000");
}

TEST(KestroAgiEmulator, SmallCallFromRobotPrintsEveryOperation) {
    TempDir dir;
    dir.write("call.xml", kRobot);
    KestroAgiEmulator session;
    {
        WorkingDirectory inside(dir.path());
        ASSERT_TRUE(session.loadRobot("call"));
    }

    StdoutCapture capture;
    playSmallCall(session);
    std::vector<std::string> expected = {
        "answer",
        "setLanguage pt_BR",
        "verbose call from test",
        "getVariable agi_callerid",
        "getAsteriskVariable agi_callerid",
        "noopcaller=5511999990000",
        "background /etc/tarvik/kestro/audios/Orvel-u4-01",
        "input document 14 5 Orvel-u4-02 3",
        "verbose Success on get from robot variable: document -> 12345678909",
        "input contract 1 5  2",
        "verbose Failure on get from robot variable: contract",
        "sayDigits 12345678909",
        "sayNumber -42",
        "setVariable ORVEL_IVR_DOCUMENT 12345678909",
        "playback Orvel-u4-03",
        "jump 9000",
        "goTo tarvik-kestro-alias 9000 s",
    };
    EXPECT_EQ(capture.lines(), expected);
}

TEST(KestroAgiEmulator, ResultsAndRobotLookups) {
    KestroAgiEmulator session;
    session.getRobot().setVariable("pin", "4321");
    session.getRobot().setVariableAgi("agi_channel", "SIP/100-0001");
    StdoutCapture capture;

    // The version never depends on the robot, and asking prints nothing.
    EXPECT_EQ(session.getAsteriskVersion(), 13);

    // Same name, same value, a fresh copy each time.
    CText first(session.input("pin", 4, 5, "p", 1));
    CText second(session.input("pin", 4, 5, "p", 1));
    ASSERT_TRUE(first && second);
    EXPECT_STREQ(first.get(), "4321");
    EXPECT_NE(first.get(), second.get());

    // Spaces around the name are trimmed before the lookup; the borrowed
    // text belongs to the robot.
    EXPECT_STREQ(session.getAsteriskVariable("  agi_channel  "), "SIP/100-0001");
    EXPECT_EQ(session.getAsteriskVariable("agi_CHANNEL"), nullptr);
    CText channel(session.getVariable("agi_channel"));
    EXPECT_STREQ(channel.get(), "SIP/100-0001");
    EXPECT_EQ(CText(session.getVariable("unknown")), nullptr);

    std::string digits = "77";
    EXPECT_TRUE(session.getDtmf(digits, 4, 3000, '#'));
    EXPECT_EQ(digits, "77");

    EXPECT_FALSE(session.isTerminated());
    EXPECT_TRUE(session.transfer("SIP/200"));
    EXPECT_TRUE(session.isTerminated());

    session.setDefaultContext("ctx-main");
    EXPECT_TRUE(session.jump("50005"));
    session.setDefaultContext(nullptr);
    EXPECT_TRUE(session.goTo("other", "s", "1"));
    EXPECT_TRUE(session.dial("SIP/300"));
    EXPECT_TRUE(session.sayTime("NOW"));
    session.hangup();
    session.noop("hello");

    std::vector<std::string> expected = {
        "input pin 4 5 p 1",
        "verbose Success on get from robot variable: pin -> 4321",
        "input pin 4 5 p 1",
        "verbose Success on get from robot variable: pin -> 4321",
        "getAsteriskVariable   agi_channel  ",
        "getAsteriskVariable agi_CHANNEL",
        "getVariable agi_channel",
        "getAsteriskVariable agi_channel",
        "getVariable unknown",
        "getAsteriskVariable unknown",
        "getDtmf 4 3000 #",
        "transfer SIP/200",
        "jump 50005",
        "goTo ctx-main 50005 s",
        "goTo other s 1",
        "dial SIP/300",
        "sayTime NOW",
        "hangup",
        "noophello",
    };
    EXPECT_EQ(capture.lines(), expected);
}

TEST(KestroAgiEmulator, NullTextsKeepTheTraceWellFormed) {
    KestroAgiEmulator session;
    StdoutCapture capture;

    // Operations with a null rule print nothing and fail.
    EXPECT_FALSE(session.dial(nullptr));
    EXPECT_FALSE(session.jump(nullptr));
    EXPECT_FALSE(session.goTo(nullptr, "1", "1"));
    EXPECT_FALSE(session.goTo("c", nullptr, "1"));
    EXPECT_FALSE(session.goTo("c", "1", nullptr));
    EXPECT_EQ(session.input(nullptr, 1, 1, "p", 1), nullptr);
    EXPECT_EQ(session.getAsteriskVariable(nullptr), nullptr);
    session.verbose(nullptr);
    session.noop(nullptr);

    // The others print an empty text in place of the null one.
    EXPECT_TRUE(session.setLanguage(nullptr));
    EXPECT_TRUE(session.sayDigits(nullptr));
    EXPECT_TRUE(session.sayNumber(nullptr));
    EXPECT_TRUE(session.sayTime(nullptr));
    EXPECT_TRUE(session.setVariable(nullptr, nullptr));
    EXPECT_TRUE(session.setVariable("A", nullptr));
    EXPECT_TRUE(session.transfer(nullptr));
    EXPECT_TRUE(session.playback(nullptr));
    EXPECT_TRUE(session.background(nullptr));
    EXPECT_EQ(session.getVariable(nullptr), nullptr);
    session.answer();

    std::vector<std::string> expected = {
        "setLanguage ", "sayDigits ", "sayNumber ", "sayTime ", "setVariable  ", "setVariable A ",
        "transfer ",    "playback ",  "background ", "getVariable ", "answer",
    };
    EXPECT_EQ(capture.lines(), expected);
}

TEST(KestroAgiEmulator, VerboseFormatsAndCutsLongMessages) {
    KestroAgiEmulator session;
    StdoutCapture capture;
    // A robot value holding a conversion stays plain text in the log line.
    session.getRobot().setVariable("odd", "%s%n%d");
    CText odd(session.input("odd", 1, 1, "p", 1));
    session.verbose("%d-%s", 7, "x");
    session.verbose("%s", std::string(5000, 'a').c_str());

    std::vector<std::string> lines = capture.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "verbose Success on get from robot variable: odd -> %s%n%d");
    EXPECT_EQ(lines[2], "verbose 7-x");
    EXPECT_EQ(lines[3], "verbose " + std::string(4095, 'a'));
}

}  // namespace
}  // namespace tarvik::testing
