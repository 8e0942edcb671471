// The command line of both programs, run as real processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/TempDir.h"

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

TEST(ProgramCommandLine, HelpPrintsTheUsageOnStandardOutputAndExitsZero) {
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        for (const char* option : {"--help", "-h"}) {
            SCOPED_TRACE(name + " " + option);
            auto result = run(program, {option, "atendimento", "x.json"});
            EXPECT_EQ(result.exitStatus, 0);
            EXPECT_EQ(result.stderrText, "");
            ASSERT_FALSE(result.commands.empty());
            EXPECT_EQ(result.commands.front(),
                      "Usage: " + name + " [-e] [-r ROBOT] [DESTINATION] CONFIG.json [mark::KEY:VALUE ...]");
            std::string text;
            for (const std::string& line : result.commands) text += line + "\n";
            for (const char* mentioned : {"--fastagi", "--max-calls", "--allow", "--check", "--offline", "--emulator",
                                          "--robot", "--version", "man ", "README.md"}) {
                EXPECT_NE(text.find(mentioned), std::string::npos) << mentioned;
            }
        }
        // An unknown option reached first still wins, as for -v.
        auto unknown = run(program, {"-x", "-h"});
        EXPECT_EQ(unknown.exitStatus, 1);
        EXPECT_EQ(unknown.stderrText, "Unknown option: `x'\n");
    }
}

TEST(ProgramCommandLine, CheckReportsOneLinePerProblemAndExitsOne) {
    TempDir dir;
    const std::string noPlugin = dir.write("no-plugin.json", R"({"kestro": "http://127.0.0.1:9", "tokn": "t"})");
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        SCOPED_TRACE(program);
        auto missing = run(program, {"--check", dir.file("absent.json")});
        EXPECT_EQ(missing.exitStatus, 1);
        EXPECT_EQ(missing.commands, (std::vector<std::string>{
                                        dir.file("absent.json") + ": cannot be read: No such file or directory",
                                        dir.file("absent.json") + ": 1 problem found"}));

        // --offline may stand before or after; no request is sent to the
        // unusable port, and no session is created.
        auto checked = run(program, {"--offline", "--check", noPlugin});
        EXPECT_EQ(checked.exitStatus, 1);
        std::string text;
        for (const std::string& line : checked.commands) {
            EXPECT_EQ(line.rfind(noPlugin + ": ", 0), 0u) << line;
            text += line + "\n";
        }
        EXPECT_NE(text.find("key \"tokn\" is not read by anyone (a typo? the nearest known key is \"token\")"),
                  std::string::npos);
        EXPECT_NE(text.find("endpoints find client by document, invoice send and client unlock are required"),
                  std::string::npos);
        EXPECT_EQ(text.find("not ready"), std::string::npos);

        auto withoutFile = run(program, {"--check"});
        EXPECT_EQ(withoutFile.exitStatus, 1);
        EXPECT_EQ(withoutFile.stderrText, "Unknown option: `?'\n");
    }
}

}  // namespace
}  // namespace tarvik::testing
