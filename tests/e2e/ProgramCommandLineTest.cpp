// The command line of both programs, run as real processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/ScriptedAsteriskPeer.h"

namespace tarvik::testing {
namespace {

ScriptedAsteriskPeer::ChildResult run(const std::string& program, const std::vector<std::string>& arguments) {
    ScriptedAsteriskPeer peer;
    return peer.runChild({program, arguments, "", {}, std::chrono::milliseconds(20000)});
}

TEST(ProgramCommandLine, VersionPrintsTheBannerAndExitsZero) {
    const std::string banner =
        "            Tarvik Kestro AGI 2.77.6 (cli)\n"
        "            Custom Application to Asterisk Integrations\n"
        "            \tmode addon orvel\n";
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        for (const std::vector<std::string>& arguments :
             std::vector<std::vector<std::string>>{{"-v"}, {"--version"}, {"-e", "-v", "atendimento", "x.json"}}) {
            SCOPED_TRACE(program + " " + arguments[0]);
            auto result = run(program, arguments);
            EXPECT_EQ(result.exitStatus, 0);
            EXPECT_EQ(result.stderrText, banner);
            EXPECT_TRUE(result.commands.empty());  // no session was created
        }
    }
}

TEST(ProgramCommandLine, MissingPositionalArgumentOrUnknownOptionExitsOne) {
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        SCOPED_TRACE(program);
        // The real session reads its start-up block first, then finds no destination.
        auto plain = run(program, {});
        EXPECT_EQ(plain.exitStatus, 1) << plain.stderrText;
        EXPECT_EQ(plain.terminatingSignal, 0);
        for (const std::string& command : plain.commands) EXPECT_TRUE(isOneAgiCommand(command)) << command;
        EXPECT_EQ(std::count(plain.commands.begin(), plain.commands.end(), "ANSWER"), 0);

        auto emulated = run(program, {"-e"});
        EXPECT_EQ(emulated.exitStatus, 1) << emulated.stderrText;
        EXPECT_EQ(emulated.terminatingSignal, 0);

        auto unknown = run(program, {"-x", "atendimento"});
        EXPECT_EQ(unknown.exitStatus, 1);
        EXPECT_EQ(unknown.stderrText, "Unknown option: `x'\n");
    }
}

}  // namespace
}  // namespace tarvik::testing
