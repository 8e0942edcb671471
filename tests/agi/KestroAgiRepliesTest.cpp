#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agi/KestroAgi.h"
#include "agi/KestroAgiException.h"
#include "agi/KestroAgiResponse.h"
#include "tests/agi/PeerCall.h"
#include "util/CText.h"

using tarvik::CText;
using tarvik::KestroAgi;
using tarvik::KestroAgiException;
using tarvik::KestroAgiResponse;
using tarvik::testing::PeerCall;
using tarvik::testing::ScriptedAsteriskPeer;
using Lines = std::vector<std::string>;

namespace {

std::string textOf(const char* text) { return text == nullptr ? "<null>" : text; }

}  // namespace

TEST(KestroAgiReplies, EvaluateParsesTheReplyValue) {
    struct Case {
        const char* reply;
        bool success;
        int code;
        const char* data;
    };
    const Case cases[] = {
        {"200 result=1234", true, 0, "1234"},
        {"200 result=1234 (timeout)", true, 0, "1234"},
        {"200 result= (timeout)", true, 0, ""},
        {"200 result=1 (some value)", true, 1, "some value"},
        {"200 result=1 (two  spaced words)", true, 1, "two spaced words"},
        {"200 result=-1", true, 0, "-1"},
        {"200 result=10 (x)", true, 1, "0 x"},
        {"200 result=", true, 0, ""},
        {"200 result=1 ()", true, 1, ""},
        {"510 Invalid or unknown command", false, 0, nullptr},
        {"511 Command Not Permitted on a dead channel or intercept routine", false, 0, nullptr},
    };
    PeerCall call;
    for (const Case& one : cases) call.peer.replyTo("PROBE", one.reply);
    KestroAgi& agi = call.begin();
    for (const Case& one : cases) {
        SCOPED_TRACE(one.reply);
        std::unique_ptr<KestroAgiResponse> response(agi.evaluate("%s", "PROBE"));
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(response->isSuccess(), one.success);
        EXPECT_EQ(response->getCode(), one.code);
        EXPECT_EQ(textOf(response->getData()), textOf(one.data));
    }
    Lines commands = call.end();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1], "VERBOSE \"Real Asterisk Data Received:[1234]\" 1");
}

TEST(KestroAgiReplies, EvaluateRejectsTheFormsItCannotRead) {
    PeerCall call;
    call.peer.replyTo("STREAM FILE x \"#\"", "200 result=35 endpos=10080");
    call.peer.replyTo("STREAM FILE y \"#\"", "200 result=-1 (hangup)");
    KestroAgi& agi = call.begin();
    try {
        delete agi.evaluate("STREAM FILE x \"#\"");
        ADD_FAILURE() << "no exception";
    } catch (const KestroAgiException& error) {
        EXPECT_EQ(error.getCode(), 400);
        EXPECT_STREQ(error.what(), "Response set value not supporter yet");
    }
    try {
        delete agi.evaluate("STREAM FILE y \"#\"");
        ADD_FAILURE() << "no exception";
    } catch (const KestroAgiException& error) {
        EXPECT_EQ(error.getCode(), 400);
        EXPECT_STREQ(error.what(), "Multiline response is not supported yet");
    }
}

TEST(KestroAgiReplies, InputAndGetVariableHandOutDataOrNull) {
    PeerCall call;
    ScriptedAsteriskPeer& peer = call.peer;
    peer.replyTo("GET VARIABLE FOO", "200 result=1 (bar)");
    peer.replyTo("GET VARIABLE BAR", "200 result=1 (two words)");
    peer.replyTo("GET VARIABLE ZERO", "200 result=1 (0)");
    peer.replyTo("GET VARIABLE FUNC", "200 result=1 (f(x))");
    peer.replyTo("GET VARIABLE NOPE", "200 result=0");
    peer.replyTo("GET VARIABLE DEAD", ScriptedAsteriskPeer::kDeadChannelReply);
    peer.replyTo("GET DATA beep 2000 14", "200 result=12345678901");
    peer.replyTo("GET DATA beep 2000 14", "200 result=7 (timeout)");
    peer.replyTo("GET DATA beep 2000 14", "200 result= (timeout)");
    peer.replyTo("GET DATA beep 2000 14", "200 result=-1");
    peer.replyTo("GET DATA beep 2000 14", ScriptedAsteriskPeer::kDeadChannelReply);
    peer.replyTo("GET DATA beep 2000 14", "520-Invalid command syntax.  Proper usage follows:\nusage\n520 End of proper usage.");
    KestroAgi& agi = call.begin();

    auto variable = [&](const char* name) { return textOf(CText(agi.getVariable(name)).get()); };
    auto typed = [&] { return textOf(CText(agi.input("document", 14, 2, "beep", 3)).get()); };

    EXPECT_EQ(variable("FOO"), "bar");
    EXPECT_EQ(variable("BAR"), "two words");
    EXPECT_EQ(variable("ZERO"), "0");
    EXPECT_EQ(variable("FUNC"), "x");  // the part inside the first parentheses
    EXPECT_EQ(variable("NOPE"), "<null>");  // unset: "0" is no value
    EXPECT_EQ(variable("DEAD"), "<null>");  // the 511 text is no value

    EXPECT_EQ(typed(), "12345678901");
    EXPECT_EQ(typed(), "7");
    EXPECT_EQ(typed(), "");
    EXPECT_EQ(typed(), "<null>");  // GET DATA failed: "-1" was never typed
    EXPECT_EQ(typed(), "<null>");
    EXPECT_EQ(typed(), "<null>");

    Lines commands = call.end();
    EXPECT_EQ(Lines(commands.begin(), commands.begin() + 3),
              (Lines{"GET VARIABLE FOO", "VERBOSE \"Real Asterisk Data Received:[1 (bar)]\" 1",
                     "VERBOSE \"Success on get from asterisk variable: FOO -> bar\" 1"}));
    EXPECT_EQ(commands[14], "VERBOSE \"Failure on get from asterisk variable: NOPE\" 1");
    EXPECT_EQ(commands[17], "VERBOSE \"Failure on get from asterisk variable: DEAD\" 1");
    EXPECT_EQ(commands[20], "VERBOSE \"Success on get from asterisk variable: document -> 12345678901\" 1");
    EXPECT_EQ(commands.back(), "VERBOSE \"Failure on get from asterisk variable: document\" 1");
}

TEST(KestroAgiReplies, GetDtmfTurnsKeyCodesIntoDigits) {
    struct Case {
        std::vector<std::string> replies;
        int maxDigits;
        bool result;
        std::string digits;
        std::size_t waits;
    };
    std::vector<std::string> sixteenSevens(17, "200 result=55");
    const Case cases[] = {
        {{"200 result=49", "200 result=50", "200 result=35"}, 5, true, "12", 3},
        {{"200 result=49", "200 result=50", "200 result=51"}, 3, true, "123", 3},
        {{"200 result=42", "200 result=0"}, 5, false, "*", 2},           // timeout
        {{"200 result=-1"}, 5, false, "", 1},                            // hang-up
        {{"200 result=56", ScriptedAsteriskPeer::kDeadChannelReply}, 5, false, "8", 2},
        {{}, 0, true, "", 0},
        {sixteenSevens, -1, false, std::string(16, '7'), 16},
        {sixteenSevens, 20, false, std::string(16, '7'), 16},
        {sixteenSevens, 15, true, std::string(15, '7'), 15},
    };
    for (const Case& one : cases) {
        SCOPED_TRACE(one.digits + " of " + std::to_string(one.maxDigits));
        PeerCall call;
        for (const auto& reply : one.replies) call.peer.replyTo("WAIT FOR DIGIT 3000", reply);
        KestroAgi& agi = call.begin();
        std::string digits = "old";
        EXPECT_EQ(agi.getDtmf(digits, one.maxDigits, 3000, '#'), one.result);
        EXPECT_EQ(digits, one.digits);
        Lines commands = call.end();
        Lines expected(one.waits, "WAIT FOR DIGIT 3000");
        if (one.result) expected.push_back("EXEC NoOp \"" + one.digits + "\" 1");
        EXPECT_EQ(commands, expected);
    }
}

TEST(KestroAgiReplies, LogTextsCannotBreakOutOfTheirCommand) {
    PeerCall call;
    KestroAgi& agi = call.begin();
    agi.verbose("%s", "caller 5511\nHANGUP");
    agi.noop("%s", "back office said \"ok\r\nANSWER");
    agi.verbose("%s", "say \"hi\" and back\\slash\\");
    EXPECT_TRUE(agi.setVariable("ORVEL_IVR_DOCUMENT", "123\nHANGUP"));
    Lines commands = call.end();
    EXPECT_EQ(commands, (Lines{
                            "VERBOSE \"caller 5511 HANGUP\" 1",
                            "EXEC NoOp \"back office said \\\"ok  ANSWER\" 1",
                            "VERBOSE \"say \\\"hi\\\" and back\\\\slash\\\\\" 1",
                            "EXEC Set ORVEL_IVR_DOCUMENT=123 HANGUP",
                        }));
}

namespace {

// Whether the text between prefix and suffix is one quoted argument: every
// backslash escapes the next byte and no bare double quote closes it early.
bool isOneQuotedArgument(const std::string& line, const std::string& prefix, const std::string& suffix) {
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    if (line.size() < prefix.size() + suffix.size()) return false;
    if (line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    std::string inside = line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    for (std::size_t index = 0; index < inside.size(); ++index) {
        if (inside[index] == '"') return false;
        if (inside[index] == '\\' && ++index == inside.size()) return false;
    }
    return true;
}

}  // namespace

TEST(KestroAgiReplies, LongLogTextsAreShortenedToOneValidLine) {
    const std::size_t limit = KestroAgi::kMaxCommandLength;
    PeerCall call;
    KestroAgi& agi = call.begin();
    agi.verbose("%s", std::string(3000, 'x').c_str());
    agi.verbose("%s", std::string(1500, '"').c_str());
    agi.verbose("%s", ("x" + std::string(1500, '\\')).c_str());
    agi.noop("%s", ("y" + std::string(1500, '"')).c_str());
    agi.verbose("%s", (std::string(2033, 'a') + "\xc3\xa7\xc3\xa3o").c_str());  // "ção" across the limit
    agi.verbose("%s", std::string(6000, 'z').c_str());  // beyond the 4095-byte format buffer
    Lines commands = call.end();
    ASSERT_EQ(commands.size(), 6u);
    for (std::size_t index = 0; index < commands.size(); ++index) {
        SCOPED_TRACE(index);
        const std::string& line = commands[index];
        EXPECT_LE(line.size(), limit);
        std::string prefix = index == 3 ? "EXEC NoOp \"" : "VERBOSE \"";
        EXPECT_TRUE(isOneQuotedArgument(line, prefix, "\" 1")) << line.substr(line.size() - 20);
    }
    EXPECT_EQ(commands[0].size(), limit);
    EXPECT_EQ(commands[1].size(), limit);
    EXPECT_EQ(commands[2].size(), limit - 1);  // one byte short rather than half an escape
    EXPECT_EQ(commands[4], "VERBOSE \"" + std::string(2033, 'a') + "\" 1");
}

TEST(KestroAgiReplies, HangupsAsAsteriskReportsThem) {
    {
        SCOPED_TRACE("local AGI: 511 for channel commands afterwards");
        PeerCall call;
        call.peer.hangUpAtCommand(1);
        call.peer.replyTo("GET VARIABLE FOO", "200 result=1 (bar)");
        KestroAgi& agi = call.begin();
        std::string digits;
        EXPECT_FALSE(agi.getDtmf(digits, 1, 10000, '#'));
        EXPECT_FALSE(agi.answer());
        EXPECT_FALSE(agi.sayNumber("42"));
        EXPECT_EQ(CText(agi.input("document", 14, 5, "beep", 3)), nullptr);
        EXPECT_EQ(textOf(CText(agi.getVariable("FOO")).get()), "bar");
        EXPECT_TRUE(agi.goTo("ctx", "50001", "1"));
    }
    {
        SCOPED_TRACE("network AGI: the unsolicited HANGUP line shifts nothing");
        PeerCall call;
        call.peer.hangUpAtCommand(1, ScriptedAsteriskPeer::HangupStyle::Network);
        call.peer.replyTo("GET VARIABLE FOO", "200 result=1 (bar)");
        KestroAgi& agi = call.begin();
        std::string digits;
        EXPECT_FALSE(agi.getDtmf(digits, 1, 10000, '#'));
        EXPECT_EQ(textOf(CText(agi.getVariable("FOO")).get()), "bar");
        EXPECT_FALSE(agi.answer());
    }
    {
        SCOPED_TRACE("exit on hang-up: both pipes closed, nothing blocks");
        PeerCall call;
        call.peer.hangUpAtCommand(2, ScriptedAsteriskPeer::HangupStyle::ExitOnHangup);
        call.peer.replyTo("GET VARIABLE FOO", "200 result=1 (bar)");
        KestroAgi& agi = call.begin();
        agi.verbose("waiting");
        std::string digits = "old";
        EXPECT_FALSE(agi.getDtmf(digits, 4, 10000, '#'));
        EXPECT_EQ(digits, "");
        agi.verbose("still running");
        EXPECT_EQ(CText(agi.getVariable("FOO")), nullptr);
        EXPECT_EQ(CText(agi.input("document", 14, 5, "beep", 3)), nullptr);
        EXPECT_FALSE(agi.getDtmf(digits, 4, 10000, '#'));
        std::unique_ptr<KestroAgiResponse> response(agi.evaluate("GET DATA beep 1000 1"));
        EXPECT_FALSE(response->isSuccess());
        EXPECT_EQ(response->getData(), nullptr);
        agi.goTo("ctx", "50001", "1");
        EXPECT_TRUE(agi.isChannelClosed());
        EXPECT_EQ(call.end(), (Lines{"VERBOSE \"waiting\" 1", "WAIT FOR DIGIT 10000"}));
    }
}
