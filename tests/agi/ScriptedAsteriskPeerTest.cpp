#include "tests/support/ScriptedAsteriskPeer.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/agi/PeerCall.h"

using tarvik::testing::PeerCall;
using tarvik::testing::ScriptedAsteriskPeer;
using Lines = std::vector<std::string>;

namespace {

ScriptedAsteriskPeer::ChildProgram shell(const std::string& script) {
    ScriptedAsteriskPeer::ChildProgram program;
    program.path = "/bin/sh";
    program.arguments = {"-c", script};
    return program;
}

const char* const kSmallAgiProgram = R"(
while IFS= read -r line && [ -n "$line" ]; do
  case "$line" in agi_callerid:*) echo "caller ${line#agi_callerid: }" >&2 ;; esac
done
echo ANSWER; read -r reply; echo "answer: $reply" >&2
echo "GET DATA beep 1000 2"; read -r reply; echo "data: $reply" >&2
echo "GET DATA"
while read -r reply; do case "$reply" in "520 "*) break ;; esac; done
echo "pwd: $(pwd) env: $PEER_TEST" >&2
exit 3
)";

}  // namespace

TEST(ScriptedAsteriskPeer, RunsAChildProgramThroughAWholeCall) {
    ScriptedAsteriskPeer peer;
    peer.setStartupVariable("agi_callerid", "551130000000");
    peer.replyTo("GET DATA beep 1000 2", "200 result=42");
    peer.replyTo("GET DATA", "520-Invalid command syntax.  Proper usage follows:\nusage\n520 End of proper usage.");
    ScriptedAsteriskPeer::ChildProgram program = shell(kSmallAgiProgram);
    program.workingDirectory = "/tmp";
    program.environment = {{"PEER_TEST", "yes"}};

    ScriptedAsteriskPeer::ChildResult result = peer.runChild(program);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.commands, (Lines{"ANSWER", "GET DATA beep 1000 2", "GET DATA"}));
    EXPECT_EQ(result.stderrText,
              "caller 551130000000\nanswer: 200 result=0\ndata: 200 result=42\npwd: /tmp env: yes\n");
    EXPECT_EQ(result.failure, "");
}

TEST(ScriptedAsteriskPeer, ChildrenGetTheDefaultSigpipeAndSeeTheClosedPipes) {
    ScriptedAsteriskPeer peer;
    peer.hangUpAtCommand(1, ScriptedAsteriskPeer::HangupStyle::ExitOnHangup);
    ScriptedAsteriskPeer::ChildResult result = peer.runChild(shell(R"(
while IFS= read -r line && [ -n "$line" ]; do :; done
echo "WAIT FOR DIGIT 10000"; read -r reply; echo "got $reply" >&2
if read -r more; then echo "unexpected $more" >&2; else echo "end of input" >&2; fi
echo "VERBOSE \"after\" 1"
echo "not reached" >&2
)"));
    EXPECT_EQ(result.commands, Lines{"WAIT FOR DIGIT 10000"});
    EXPECT_EQ(result.stderrText, "got 200 result=-1\nend of input\n");
    EXPECT_EQ(result.terminatingSignal, SIGPIPE);
}

TEST(ScriptedAsteriskPeer, ReportsWhatWentWrongInsteadOfHanging) {
    {
        ScriptedAsteriskPeer peer;
        ScriptedAsteriskPeer::ChildProgram program = shell("exec sleep 30");
        program.deadline = std::chrono::milliseconds(300);
        ScriptedAsteriskPeer::ChildResult result;
        EXPECT_NONFATAL_FAILURE(result = peer.runChild(program), "killed at the deadline");
        EXPECT_TRUE(result.timedOut);
        EXPECT_EQ(result.terminatingSignal, SIGKILL);
    }
    {
        ScriptedAsteriskPeer peer;
        ScriptedAsteriskPeer::ChildResult result;
        EXPECT_NONFATAL_FAILURE(result = peer.runChild({"/nonexistent/ivr", {}, "", {}}), "cannot start");
        EXPECT_FALSE(result.started);
    }
    {
        PeerCall call;
        call.peer.setIdleTimeout(std::chrono::milliseconds(200));
        auto& agi = call.begin();
        // Say nothing for longer than the peer waits: it gives up and closes
        // its end (the session's input ends).
        pollfd input{call.peer.programIn(), POLLIN, 0};
        ASSERT_EQ(::poll(&input, 1, 10000), 1);
        agi.answer();
        EXPECT_FALSE(agi.lastCommandAnswered());
        EXPECT_NONFATAL_FAILURE(call.end(), "sent no command");
    }
    {
        PeerCall call;
        call.peer.setScript([](const std::string& command) -> std::string {
            if (command == "ANSWER") throw std::runtime_error("no answer scripted");
            return "200 result=0";
        });
        auto& agi = call.begin();
        EXPECT_TRUE(agi.sayDigits("1"));
        agi.answer();
        EXPECT_FALSE(agi.lastCommandAnswered());
        EXPECT_NONFATAL_FAILURE(call.end(), "no answer scripted");
    }
}

TEST(ScriptedAsteriskPeer, ChoosesRepliesInOrder) {
    PeerCall call;
    call.peer.hangUpAtCommand(5);
    call.peer.replyTo("GET VARIABLE A", "200 result=1 (a)");
    call.peer.queueReplies({"200 result=7", "200 result=8"});
    call.peer.setScript([](const std::string& command) {
        return command == "SAY DIGITS 1 #" ? "200 result=35" : ScriptedAsteriskPeer::defaultReply(command);
    });
    auto& agi = call.begin();
    auto send = [&](const char* command) {
        agi.exec("%s", command);
        return agi.getResponseValue();
    };
    EXPECT_EQ(send("GET VARIABLE A"), "1 (a)");
    EXPECT_EQ(send("GET VARIABLE A"), "7");
    EXPECT_EQ(send("ANSWER"), "8");
    EXPECT_EQ(send("SAY DIGITS 1 #"), "35");
    EXPECT_EQ(send("WAIT FOR DIGIT 1"), "-1");
    EXPECT_EQ(send("VERBOSE \"x\" 1"), "1");
    EXPECT_EQ(send("SAY DIGITS 1 #"), "Command Not Permitted on a dead channel or intercept routine");
    EXPECT_EQ(call.end().size(), 7u);
}
