#include "agi/AGI.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "tests/agi/WireFiles.h"

using nanoagi::AGI;
using tarvik::testing::WireFiles;

TEST(AgiWire, ReadsTheStartupBlockUpToTheEmptyLine) {
    WireFiles wire(
        "agi_callerid:   551\n"
        " agi_spaced: x\n"
        "agi_network_script: a:b\n"
        "a line without colon\n"
        "agi_dup: 1\n"
        "agi_dup: 2\n"
        "agi_accountcode: \n"
        "agi_tab: \tv \n"
        "\n"
        "agi_after: no\n");
    AGI agi(wire.input(), wire.output());
    const auto& environment = agi.getEnvironment();

    EXPECT_EQ(environment, (std::map<std::string, std::string>{{"agi_callerid", "551"},
                                                                {" agi_spaced", "x"},
                                                                {"agi_network_script", "a:b"},
                                                                {"agi_dup", "2"},
                                                                {"agi_accountcode", ""},
                                                                {"agi_tab", "\tv"}}));
    EXPECT_TRUE(wire.written().empty());

    std::map<std::string, std::string> variables;
    std::string line = "no colon";
    EXPECT_FALSE(agi.split(line, variables));
    line = "key:  value  ";
    EXPECT_TRUE(agi.split(line, variables));
    EXPECT_EQ(variables["key"], "value");
}

TEST(AgiWire, EndOfInputEndsTheBlockAndAnswersEveryCommandEmpty) {
    WireFiles wire("agi_a: 1\nagi_b: 2");
    AGI agi(wire.input(), wire.output());
    EXPECT_EQ(agi.getEnvironment(), (std::map<std::string, std::string>{{"agi_a", "1"}, {"agi_b", "2"}}));

    EXPECT_TRUE(agi.cmd("ANSWER"));
    EXPECT_FALSE(agi.lastCommandAnswered());
    EXPECT_TRUE(agi.isChannelClosed());
    EXPECT_EQ(agi.getResponseValue(), "");
    EXPECT_TRUE(agi.cmd("HANGUP"));
    EXPECT_EQ(wire.written(), "ANSWER\nHANGUP\n");
}

TEST(AgiWire, ClassifiesRepliesByTheirFirstCharacter) {
    WireFiles wire(
        "\n"
        "200 result=\n"
        "200 result=-1\n"
        "200 result=1 (timeout)\n"
        "510 Invalid or unknown command\n"
        "100 result=0 Trying...\n"
        "200 ok\n"
        "200 result=a=b\n"
        "5\n"
        "\n");
    AGI agi(wire.input(), wire.output());
    EXPECT_TRUE(agi.getEnvironment().empty());

    EXPECT_TRUE(agi.cmd("C1"));
    EXPECT_EQ(agi.getResponseValue(), "");
    EXPECT_TRUE(agi.cmd("C2"));
    EXPECT_EQ(agi.getResponseValue(), "-1");
    EXPECT_TRUE(agi.cmd("C3"));
    EXPECT_EQ(agi.getResponseValue(), "1 (timeout)");
    EXPECT_FALSE(agi.cmd("C4"));
    EXPECT_EQ(agi.getResponseValue(), "Invalid or unknown command");
    EXPECT_EQ(agi.getErrorText(), "Invalid or unknown command");
    EXPECT_TRUE(agi.cmd("C5"));
    EXPECT_EQ(agi.getResponseValue(), "Invalid or unknown command");
    EXPECT_TRUE(agi.cmd("C6"));
    EXPECT_EQ(agi.getResponseValue(), "Invalid or unknown command");
    EXPECT_TRUE(agi.cmd("C7"));
    EXPECT_EQ(agi.getResponseValue(), "a=b");
    EXPECT_FALSE(agi.cmd("C8"));
    EXPECT_EQ(agi.getResponseValue(), "");
    EXPECT_EQ(agi.getErrorText(), "");
    EXPECT_TRUE(agi.cmd("C9"));  // an empty line
    EXPECT_TRUE(agi.lastCommandAnswered());

    std::string command = "C10";
    std::string value = "kept";
    EXPECT_TRUE(agi.wcout(command, value));
    EXPECT_EQ(value, "kept");
    EXPECT_FALSE(agi.lastCommandAnswered());
}

TEST(AgiWire, ReadsMultiLineRepliesThroughTheirLastLine) {
    WireFiles wire(
        "\n"
        "520-Invalid command syntax.  Proper usage follows:\n"
        "Stream the given <replaceable>file</replaceable>, and receive DTMF data.\n"
        "520-a continuation line with the code and a dash\n"
        "Returns the digits received from the channel at the other end.\n"
        "520 End of proper usage.\n"
        "200 result=0\n"
        "520-Invalid command syntax.  Proper usage follows:\n"
        "usage cut short by the end of input\n");
    AGI agi(wire.input(), wire.output());

    EXPECT_FALSE(agi.cmd("GET DATA"));
    EXPECT_EQ(agi.getErrorText(), "Invalid command syntax.  Proper usage follows:");
    EXPECT_EQ(agi.getResponseValue(), "Invalid command syntax.  Proper usage follows:");

    EXPECT_TRUE(agi.cmd("EXEC Goto ivr-test,9000,1"));
    EXPECT_TRUE(agi.lastCommandAnswered());
    EXPECT_EQ(agi.getResponseValue(), "0");

    EXPECT_FALSE(agi.cmd("GET DATA"));
    EXPECT_TRUE(agi.cmd("AFTER"));
    EXPECT_FALSE(agi.lastCommandAnswered());
}

TEST(AgiWire, SkipsTheUnsolicitedHangupLineOfANetworkAgi) {
    WireFiles wire("agi_network: yes\n\n200 result=-1\nHANGUP\n200 result=1\n200 result=0\n");
    AGI agi(wire.input(), wire.output());
    EXPECT_TRUE(agi.cmd("WAIT FOR DIGIT 10000"));
    EXPECT_EQ(agi.getResponseValue(), "-1");
    EXPECT_TRUE(agi.cmd("VERBOSE \"x\" 1"));
    EXPECT_EQ(agi.getResponseValue(), "1");
    EXPECT_TRUE(agi.cmd("GET VARIABLE FOO"));
    EXPECT_EQ(agi.getResponseValue(), "0");
}

TEST(AgiWire, EveryCommandIsOneBoundedLine) {
    WireFiles wire("\n");
    AGI agi(wire.input(), wire.output());

    agi.cmd("VERBOSE \"caller\nHANGUP\" 1");
    agi.cmd("EXEC NoOp \"a\r\nANSWER\r\" 1");
    agi.cmd(std::string(5000, 'x'));
    // A two-byte character across the limit is dropped whole.
    agi.cmd(std::string(AGI::kMaxCommandLength - 1, 'y') + "\xc3\xa9");

    auto lines = wire.writtenLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "VERBOSE \"caller HANGUP\" 1");
    EXPECT_EQ(lines[1], "EXEC NoOp \"a  ANSWER \" 1");
    EXPECT_EQ(lines[2], std::string(AGI::kMaxCommandLength, 'x'));
    EXPECT_EQ(lines[3], std::string(AGI::kMaxCommandLength - 1, 'y'));
}

TEST(AgiWire, ReplyLinesAreBounded) {
    std::string huge(200 * 1024, 'x');
    WireFiles wire("\n200 result=" + huge + "\n200 result=7\n");
    AGI agi(wire.input(), wire.output());
    EXPECT_TRUE(agi.cmd("GET VARIABLE BIG"));
    EXPECT_EQ(agi.getResponseValue().size(), tarvik::AgiLineStream::kMaxLineLength - 11);
    EXPECT_TRUE(agi.cmd("NEXT"));
    EXPECT_EQ(agi.getResponseValue(), "7");
}

TEST(AgiWire, AClosedOutputNeitherKillsNorBlocks) {
    // The session itself must protect against SIGPIPE.
    signal(SIGPIPE, SIG_DFL);
    int toAsterisk[2];
    ASSERT_EQ(pipe(toAsterisk), 0);
    ::close(toAsterisk[0]);
    // A reply is waiting, but it must not be read for a command that could
    // not be sent.
    WireFiles wire("agi_a: 1\n\n200 result=1\n");
    AGI agi(wire.input(), toAsterisk[1]);
    EXPECT_TRUE(agi.cmd("ANSWER"));
    EXPECT_FALSE(agi.lastCommandAnswered());
    EXPECT_TRUE(agi.isChannelClosed());
    EXPECT_TRUE(agi.cmd("HANGUP"));
    ::close(toAsterisk[1]);
}

namespace {
void ignoreSignal(int) {}
}  // namespace

TEST(AgiWire, ReadsRetryWhenASignalInterruptsThem) {
    struct sigaction action {};
    action.sa_handler = ignoreSignal;  // no SA_RESTART: read() fails with EINTR
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGUSR1, &action, &previous);

    int fromAsterisk[2];
    int toAsterisk[2];
    ASSERT_EQ(pipe(fromAsterisk), 0);
    ASSERT_EQ(pipe(toAsterisk), 0);
    pthread_t reader = pthread_self();
    std::thread asterisk([&] {
        for (int round = 0; round < 5; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pthread_kill(reader, SIGUSR1);
        }
        const std::string bytes = "agi_a: 1\n\n200 result=5\n";
        EXPECT_EQ(::write(fromAsterisk[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fromAsterisk[1]);
    });
    {
        AGI agi(fromAsterisk[0], toAsterisk[1]);
        EXPECT_EQ(agi.getEnvironment().count("agi_a"), 1u);
        EXPECT_TRUE(agi.cmd("WAIT FOR DIGIT 1"));
        EXPECT_EQ(agi.getResponseValue(), "5");
    }
    asterisk.join();
    ::close(fromAsterisk[0]);
    ::close(toAsterisk[0]);
    ::close(toAsterisk[1]);
    sigaction(SIGUSR1, &previous, nullptr);
}
