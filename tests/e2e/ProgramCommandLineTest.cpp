// The command line of both programs, run as real processes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/SimProcess.h"
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
        EXPECT_EQ(unknown.stderrText.substr(0, unknown.stderrText.find('\n')), "Unknown option: `x'");
    }
}

// The modes that only print and exit read no AGI start-up block: run them
// with plain pipes, reading standard output to its end.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) all.push_back(line);
    return all;
}

TEST(ProgramCommandLine, HelpPrintsTheUsageOnStandardOutputAndExitsZero) {
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        for (const char* option : {"--help", "-h"}) {
            SCOPED_TRACE(name + " " + option);
            SimRun result = runProgramToEnd(program, {option, "atendimento", "x.json"});
            EXPECT_EQ(result.exitStatus, 0);
            EXPECT_EQ(result.errors, "");
            ASSERT_FALSE(result.output.empty());
            EXPECT_EQ(lines(result.output).front(),
                      "Usage: " + name + " [-e] [-r ROBOT] [DESTINATION] CONFIG.json [mark::KEY:VALUE ...]");
            for (const char* mentioned : {"--fastagi", "--max-calls", "--allow", "--calls-per-process", "--metrics",
                                          "--flush-spool", "--check", "--offline", "--emulator",
                                          "--robot", "--version", "man ", "README.md"}) {
                EXPECT_NE(result.output.find(mentioned), std::string::npos) << mentioned;
            }
        }
        // An unknown option reached first still wins, as for -v.
        SimRun unknown = runProgramToEnd(program, {"-x", "-h"});
        EXPECT_EQ(unknown.exitStatus, 1);
        EXPECT_EQ(unknown.errors.rfind("Unknown option: `x'\nUsage: " + name + " ", 0), 0u);
        EXPECT_EQ(unknown.output, "");
    }
}

TEST(ProgramCommandLine, CheckReportsOneLinePerProblemAndExitsOne) {
    TempDir dir;
    const std::string noPlugin = dir.write("no-plugin.json", R"({"kestro": "http://127.0.0.1:9", "tokn": "t"})");
    // A profile audio directory with every prompt of the table but 05 and 54.
    std::ifstream table(IVR_SOURCE_DIR "/prompts/prompts.tsv");
    for (std::string line; std::getline(table, line);) {
        std::string prompt = line.substr(0, line.find('\t'));
        if (line.empty() || line[0] == '#' || prompt == "Orvel-u4-05" || prompt == "Orvel-u4-54") continue;
        dir.write("audio/" + prompt + ".wav", "RIFF");
    }
    const std::string audio = dir.file("audio") + "/";
    const std::string formats = " (.wav .gsm .ulaw .alaw .sln .g722 .g729)\n";
    const std::string withAudio = dir.write(
        "with-audio.json", R"({"profile": {"route": [], "audio": [{"dir": ")" + audio +
                               R"(", "variables": {"description": "all", "values": []}}]}})");

    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        SCOPED_TRACE(name);
        SimRun missing = runProgramToEnd(program, {"--check", dir.file("absent.json")});
        EXPECT_EQ(missing.exitStatus, 1);
        EXPECT_EQ(missing.output, dir.file("absent.json") + ": cannot be read: No such file or directory\n" +
                                      dir.file("absent.json") + ": 1 problem found\n");

        // --offline may stand before or after; no request is sent to the
        // unusable port.
        SimRun checked = runProgramToEnd(program, {"--offline", "--check", noPlugin});
        EXPECT_EQ(checked.exitStatus, 1);
        for (const std::string& line : lines(checked.output)) EXPECT_EQ(line.rfind(noPlugin + ": ", 0), 0u) << line;
        EXPECT_NE(checked.output.find("key \"tokn\" is not read by anyone (a typo? the nearest known key is "
                                      "\"token\")"),
                  std::string::npos);
        EXPECT_NE(checked.output.find("endpoints find client by document, invoice send and client unlock are "
                                      "required"),
                  std::string::npos);
        EXPECT_EQ(checked.output.find("not ready"), std::string::npos);

        // Each program asks only for the prompts it can play.
        SimRun prompts = runProgramToEnd(program, {"--check", withAudio, "--offline"});
        std::string promptLines;
        for (const std::string& line : lines(prompts.output)) {
            if (line.find(": prompt ") != std::string::npos && line.find(audio) != std::string::npos) {
                promptLines += line.substr(line.find(": prompt ") + 2) + "\n";
            }
        }
        EXPECT_EQ(promptLines, name == "ivr-orvel" ? "prompt Orvel-u4-54 has no audio file in " + audio + formats
                                                   : "prompt Orvel-u4-05 has no audio file in " + audio + formats);

    }
}

// Each mistake is named on the first line, the usage follows, status 1,
// and nothing runs. A long option's line begins with the program's name; a
// short one's keeps the exact form dial-plan scripts read.
TEST(ProgramCommandLine, ErrorsNameWhatWasWrongThenShowTheUsage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"--bogus", "50001"}, "NAME: unknown option --bogus"},
        {{"-x", "50001"}, "Unknown option: `x'"},
        {{"-ex", "50001"}, "Unknown option: `x'"},
        {{"-e", "50001", "-r"}, "Unknown option: `r'"},
        {{"-r", "--check", "a.json"}, "Unknown option: `r'"},
        {{"--robot"}, "NAME: --robot needs a robot file"},
        {{"--help=yes"}, "NAME: --help takes no value"},
        {{"--check"}, "NAME: --check needs a configuration file"},
        {{"--check", "--offline"}, "NAME: --check needs a configuration file"},
        {{"--flush-spool"}, "NAME: --flush-spool needs a configuration file"},
        {{"--check", "a.json", "b.json"}, "NAME: unexpected argument b.json"},
        {{"--flush-spool", "a.json", "--check", "a.json"}, "NAME: --check, --flush-spool, --explain-route and --fastagi go one at a time"},
        {{"--offline", "a.json"}, "NAME: --offline goes only with --check"},
        {{"--max-calls", "5", "a.json"}, "NAME: --max-calls goes only with --fastagi"},
        {{"--fastagi", "0", "--allow"}, "NAME: --allow needs a network (CIDR)"},
        {{"--fastagi", "port"}, "NAME: invalid value for --fastagi: port"},
    };
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        const std::vector<std::string> usage = lines(runProgramToEnd(program, {"--help"}).output);
        for (const auto& [arguments, error] : mistakes) {
            SCOPED_TRACE(name + " " + arguments[0]);
            SimRun result = runProgramToEnd(program, arguments);
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.output, "");
            std::vector<std::string> shown = lines(result.errors);
            ASSERT_GE(shown.size(), 2u);
            const std::string expected = error.rfind("NAME: ", 0) == 0 ? name + error.substr(4) : error;
            EXPECT_EQ(shown[0], expected);
            EXPECT_EQ(std::vector<std::string>(shown.begin() + 1, shown.end()),
                      std::vector<std::string>(usage.begin(), usage.begin() + (shown.size() - 1)));
            EXPECT_EQ(shown[1].rfind("Usage: " + name + " ", 0), 0u);
        }
    }
}

}  // namespace
}  // namespace tarvik::testing
