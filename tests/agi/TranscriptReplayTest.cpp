// Replays of real Asterisk 22 AGI transcripts: the recorded start-up blocks
// and replies drive the wire and the session, and the recorded commands
// must come out byte for byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "agi/AGI.h"
#include "agi/KestroAgi.h"
#include "tests/agi/PeerCall.h"
#include "tests/agi/WireFiles.h"
#include "util/CText.h"

using tarvik::CText;
using tarvik::KestroAgi;
using tarvik::testing::PeerCall;
using tarvik::testing::transcriptFile;
using tarvik::testing::WireFiles;
using Lines = std::vector<std::string>;

namespace {

const char* const kTranscripts[] = {
    "01-basic",           "02-lang-pt_BR",        "03-barge-in",          "04-hangup-during-command",
    "05-hangup-while-idle", "06-hangup-agisighup-no", "07-hangup-exit-on-hangup", "08-agi-hangup-command",
    "09-goto-label-missing", "10-goto-label-s",     "11-goto-pipe-separators", "12-dial-and-transfer",
    "13-fastagi-hangup",
};

struct Recording {
    std::string startup;   // the start-up block with its empty line
    Lines replies;         // one entry per command; a "520-" block is one entry
    Lines commands;        // the lines the probe wrote
    std::string commandBytes;
};

Lines splitLines(const std::string& bytes) {
    Lines lines;
    std::istringstream stream(bytes);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

Recording load(const std::string& name) {
    Recording recording;
    std::string input = transcriptFile(name + ".in.raw");
    std::size_t end = input.find("\n\n");
    EXPECT_NE(end, std::string::npos);
    recording.startup = input.substr(0, end + 2);
    Lines lines = splitLines(input.substr(end + 2));
    for (std::size_t index = 0; index < lines.size(); ++index) {
        if (lines[index] == "HANGUP") continue;  // unsolicited, network AGI only
        std::string reply = lines[index];
        if (reply.size() > 3 && reply[3] == '-') {
            std::string last = reply.substr(0, 3) + " ";
            while (++index < lines.size()) {
                reply += "\n" + lines[index];
                if (lines[index].compare(0, 4, last) == 0) break;
            }
        }
        recording.replies.push_back(reply);
    }
    recording.commandBytes = transcriptFile(name + ".out.raw");
    recording.commands = splitLines(recording.commandBytes);
    return recording;
}

}  // namespace

TEST(TranscriptReplay, TheWireStaysInStepWithEveryRecordedCall) {
    for (const char* name : kTranscripts) {
        SCOPED_TRACE(name);
        Recording recording = load(name);
        WireFiles wire(transcriptFile(std::string(name) + ".in.raw"));
        nanoagi::AGI agi(wire.input(), wire.output());
        EXPECT_EQ(agi.getEnvironment().at("agi_version"), "22.10.1");

        for (std::size_t index = 0; index < recording.commands.size(); ++index) {
            SCOPED_TRACE(recording.commands[index]);
            bool result = agi.cmd(recording.commands[index]);
            if (index >= recording.replies.size()) {
                // Asterisk closed the pipes after the hang-up (07).
                EXPECT_FALSE(agi.lastCommandAnswered());
                EXPECT_TRUE(result);
                continue;
            }
            const std::string& reply = recording.replies[index];
            EXPECT_TRUE(agi.lastCommandAnswered());
            EXPECT_EQ(result, reply[0] != '5');
            std::size_t equals = reply.find('=');
            if (reply[0] == '2' && equals != std::string::npos) {
                EXPECT_EQ(agi.getResponseValue(), reply.substr(equals + 1));
            }
            if (reply[0] == '5') {
                EXPECT_EQ(agi.getErrorText(), reply.substr(4, reply.find('\n') - 4));
            }
        }
        // Every reply was used up by its own command.
        agi.cmd("NOOP");
        EXPECT_FALSE(agi.lastCommandAnswered());
        EXPECT_EQ(wire.written(), recording.commandBytes + "NOOP\n");
    }
}

TEST(TranscriptReplay, TheSessionReadsTheBasicCallsReplies) {
    Recording recording = load("01-basic");
    ASSERT_EQ(recording.replies.size(), recording.commands.size());
    PeerCall call;
    call.peer.setStartupRaw(recording.startup);
    for (std::size_t index = 0; index < recording.commands.size(); ++index) {
        call.peer.replyTo(recording.commands[index], recording.replies[index]);
    }
    KestroAgi& agi = call.begin();

    EXPECT_STREQ(agi.getAsteriskVariable("agi_arg_2"), "two words");
    EXPECT_STREQ(agi.getAsteriskVariable("agi_arg_3"), "x=1,y=2");
    EXPECT_STREQ(agi.getAsteriskVariable("agi_accountcode"), "");
    EXPECT_STREQ(agi.getAsteriskVariable("agi_callerid"), "5511999990000");
    EXPECT_EQ(agi.getAsteriskVersion(), 22);

    auto text = [](char* owned) {
        CText held(owned);
        return std::string(held ? held.get() : "<null>");
    };
    EXPECT_TRUE(agi.answer());
    EXPECT_EQ(text(agi.getVariable("FOO")), "bar");
    EXPECT_EQ(text(agi.getVariable("NOPE")), "<null>");
    EXPECT_EQ(text(agi.getVariable("BAR")), "two words");
    EXPECT_EQ(text(agi.input("choice", 1, 3, "beep", 3)), "2");
    EXPECT_EQ(text(agi.input("document", 14, 2, "beep", 3)), "12345678901");
    EXPECT_EQ(text(agi.input("document", 14, 2, "beep", 3)), "");  // "200 result= (timeout)"
    EXPECT_EQ(text(agi.input("choice", 2, 3, nullptr, 3)), "7");  // "200 result=7 (timeout)"
    std::string digits;
    EXPECT_FALSE(agi.getDtmf(digits, 1, 2000, '#'));  // "200 result=0": timed out
    EXPECT_EQ(digits, "");
    EXPECT_TRUE(agi.getDtmf(digits, 1, 5000, '#'));  // "200 result=53"
    EXPECT_EQ(digits, "5");
    EXPECT_TRUE(agi.sayDigits("12"));
    EXPECT_TRUE(agi.sayNumber(42));
    EXPECT_TRUE(agi.sayTime("1700000000"));
    EXPECT_TRUE(agi.setLanguage("pt_BR"));
    EXPECT_EQ(text(agi.getVariable("CHANNEL(language)")), "pt_BR");
    EXPECT_FALSE(agi.exec("FOO BAR"));
    EXPECT_EQ(agi.getErrorText(), "Invalid or unknown command");
    EXPECT_FALSE(agi.exec("GET DATA"));  // the four-line usage reply
    EXPECT_EQ(agi.getErrorText(), "Invalid command syntax.  Proper usage follows:");
    EXPECT_TRUE(agi.goTo("ivr-test", "9000", "1"));
    EXPECT_EQ(agi.getResponseValue(), "0");

    Lines sent;
    for (const std::string& command : call.end()) {
        if (command.compare(0, 8, "VERBOSE ") != 0 && command.compare(0, 10, "EXEC NoOp ") != 0) {
            sent.push_back(command);
        }
    }
    EXPECT_EQ(sent, (Lines{"ANSWER", "GET VARIABLE FOO", "GET VARIABLE NOPE", "GET VARIABLE BAR",
                           "GET DATA beep 3000 1", "GET DATA beep 2000 14", "GET DATA beep 2000 14",
                           "GET DATA \"\" 3000 2", "WAIT FOR DIGIT 2000", "WAIT FOR DIGIT 5000", "SAY DIGITS 12 #",
                           "SAY NUMBER 42 #", "SAY TIME 1700000000 #", "EXEC Set CHANNEL(language)=pt_BR",
                           "GET VARIABLE CHANNEL(language)", "FOO BAR", "GET DATA", "EXEC Goto ivr-test,9000,1"}));
}
