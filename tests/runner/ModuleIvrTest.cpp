#include "runner/ModuleIvr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "agi/KestroAgiException.h"
#include "runner/DebuggerTools.h"
#include "runner/ProgramHelp.h"
#include "tests/runner/RunnerTestSupport.h"
#include "util/CText.h"

namespace tarvik::testing {
namespace {

// A module that writes every call it receives to standard output, in line
// with the session's own trace, and can be told to fail.
class TraceModule : public IModuleIvr {
public:
    TraceModule() : IModuleIvr("recorder") {}

    enum class Failure { none, kestroInPlay, standardInConfiguration, kestroInArgument, foreignInPlay };
    Failure failure = Failure::none;

    void play(KestroAgiImpl& session) override {
        say("play");
        if (failure == Failure::kestroInPlay) throw KestroAgiException(500, "%s", "flow broke at 100%s %d");
        if (failure == Failure::foreignInPlay) throw 42;
        DebuggerTools::notice("notice from %s", "module");
        CText document(session.input("document", 14, 5, nullptr, 1));
        const char* caller = session.getAsteriskVariable("agi_callerid");
        say(std::string("caller ") + (caller ? caller : "(none)"));
    }
    void setDestination(KestroAgiImpl&, const char* destination) override {
        say(std::string("setDestination ") + destination);
    }
    void loadConfiguration(KestroAgiImpl&, const char* path) override {
        say(std::string("loadConfiguration ") + path);
        if (failure == Failure::standardInConfiguration) throw std::runtime_error("bad configuration %d");
    }
    void onReadArgument(const char* argument) override {
        say(std::string("onReadArgument ") + argument);
        if (failure == Failure::kestroInArgument) throw KestroAgiException(500, "bad argument %s", argument);
    }

private:
    static void say(const std::string& line) {
        std::printf("module %s\n", line.c_str());
        std::fflush(stdout);
    }
};

const char* kRobot =
    "<kestro-agi><inputs><input variable=\"document\" value=\"123\"/></inputs>"
    "<agis><agi variable=\"agi_callerid\" value=\"5500\"/></agis></kestro-agi>";

// Runs the runner in a child process of its own, as Asterisk would.
ProcessResult run(const TempDir& dir, std::vector<std::string> arguments,
                  TraceModule::Failure failure = TraceModule::Failure::none, const std::string& input = "") {
    arguments.insert(arguments.begin(), "ivr-test");
    return runInChild(dir.path(), input, [&]() {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        TraceModule module;
        module.failure = failure;
        int status = 0;
        {
            ModuleIvr runner;
            status = runner.execute(static_cast<int>(arguments.size()), argv.data(), module);
            // The session is gone: the still installed runner forwards nothing.
            DebuggerTools::notice("after the run");
        }
        // The runner is gone: the facade must not point at it any more.
        if (DebuggerTools::getImpl() != nullptr) return 77;
        DebuggerTools::notice("after the runner");
        return status;
    });
}

const std::string kBanner =
    "            Tarvik Kestro AGI 2.77.6 (cli)\n"
    "            Custom Application to Asterisk Integrations\n"
    "            \tmode addon orvel\n";

TEST(ModuleIvr, VersionAndUnknownOptions) {
    TempDir dir;
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-v"}, 0, kBanner},
        {{"--version"}, 0, kBanner},
        {{"-e", "50001", "-v", "-x"}, 0, kBanner},  // -v is reached first
        // A short option keeps the form dial-plan scripts read: no program
        // name, the letter between a backquote and a straight quote.
        {{"-x", "-v"}, 1, "Unknown option: `x'\n" + ProgramHelp::usage("ivr-test")},
        {{"-e", "-r"}, 1, "Unknown option: `r'\n" + ProgramHelp::usage("ivr-test")},
        {{"-r", "-e", "50001"}, 1, "Unknown option: `r'\n" + ProgramHelp::usage("ivr-test")},
        {{"-evq"}, 0, kBanner},  // -v still wins when reached first
        {{"--robot"}, 1, "ivr-test: --robot needs a robot file\n" + ProgramHelp::usage("ivr-test")},
        {{"--bogus", "50001"}, 1, "ivr-test: unknown option --bogus\n" + ProgramHelp::usage("ivr-test")},
    };
    for (const Case& each : cases) {
        ProcessResult result = run(dir, each.arguments);
        std::string label = each.arguments[0] + " ...";
        EXPECT_TRUE(result.exited) << label;
        EXPECT_EQ(result.status, each.status) << label;
        EXPECT_EQ(result.err, each.err) << label;
        EXPECT_EQ(result.out, "") << label;  // no session, no module call
    }
}

TEST(ModuleIvr, RoutesArgumentsInEmulatorMode) {
    TempDir dir;
    dir.write("call.xml", kRobot);

    // Options may stand among the positional arguments; extra arguments
    // reach the module first, in order, each once.
    ProcessResult full = run(dir, {"50001", "-e", "conf.json", "mark::type:pf", "-r", "call", "extra"});
    EXPECT_TRUE(full.exited);
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(full.err, "");
    std::vector<std::string> expected = {
        "module onReadArgument mark::type:pf",
        "module onReadArgument extra",
        "verbose Agi is loaded in mode emulator",
        "verbose Agi starting to destination 50001",
        "module setDestination 50001",
        "verbose Agi starting configuration with file conf.json",
        "module loadConfiguration conf.json",
        "verbose Player is a native ivr module by recorder",
        "module play",
        "verbose notice from module",
        "input document 14 5  1",
        "verbose Success on get from robot variable: document -> 123",
        "getAsteriskVariable agi_callerid",
        "module caller 5500",
        "verbose Player finished by recorder",
    };
    EXPECT_EQ(splitLines(full.out), expected);

    // ".json" anywhere in the first argument makes it the configuration;
    // the destination is then present and empty.
    ProcessResult json = run(dir, {"-e", "conf.json.bak", "a", "b"});
    EXPECT_EQ(json.status, 0);
    expected = {
        "module onReadArgument a",
        "module onReadArgument b",
        "verbose Agi is loaded in mode emulator",
        "verbose Agi starting to destination ",
        "module setDestination ",
        "verbose Agi starting configuration with file conf.json.bak",
        "module loadConfiguration conf.json.bak",
        "verbose Player is a native ivr module by recorder",
        "module play",
    };
    std::vector<std::string> lines = splitLines(json.out);
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()), expected);

    // Only a destination: no configuration, no extra argument; without a
    // robot every input fails. The second argument is the configuration
    // whatever its name.
    ProcessResult only = run(dir, {"-e", "50002"});
    EXPECT_EQ(only.status, 0);
    EXPECT_EQ(only.out.find("loadConfiguration"), std::string::npos);
    EXPECT_EQ(only.out.find("onReadArgument"), std::string::npos);
    EXPECT_NE(only.out.find("verbose Failure on get from robot variable: document\n"), std::string::npos);
    ProcessResult named = run(dir, {"-e", "50002", "settings.txt", "x"});
    EXPECT_NE(named.out.find("module onReadArgument x\n"), std::string::npos);
    EXPECT_NE(named.out.find("module loadConfiguration settings.txt\n"), std::string::npos);

    // A later -r replaces the earlier one.
    ProcessResult robots = run(dir, {"-e", "-r", "missing", "-r", "call", "50003"});
    EXPECT_NE(robots.out.find("module caller 5500\n"), std::string::npos);

    // Nothing to route: say so through the session, call nothing, fail.
    ProcessResult none = run(dir, {"-e", "-r", "call"});
    EXPECT_TRUE(none.exited);
    EXPECT_EQ(none.status, 1);
    ASSERT_EQ(splitLines(none.out).size(), 1u);
    EXPECT_EQ(none.out.rfind("verbose ", 0), 0u);
    EXPECT_EQ(none.out.find("module"), std::string::npos);
}

TEST(ModuleIvr, ExceptionsEndTheRunWithStatusOne) {
    TempDir dir;
    // The message is logged as plain text, never as a format.
    ProcessResult kestro = run(dir, {"-e", "50001"}, TraceModule::Failure::kestroInPlay);
    EXPECT_TRUE(kestro.exited);
    EXPECT_EQ(kestro.status, 1);
    std::vector<std::string> lines = splitLines(kestro.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "verbose flow broke at 100%s %d");
    EXPECT_EQ(kestro.out.find("Player finished"), std::string::npos);

    ProcessResult standard = run(dir, {"-e", "conf.json"}, TraceModule::Failure::standardInConfiguration);
    EXPECT_TRUE(standard.exited);
    EXPECT_EQ(standard.status, 1);
    lines = splitLines(standard.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "verbose bad configuration %d");
    EXPECT_EQ(standard.out.find("module play"), std::string::npos);

    ProcessResult argument = run(dir, {"-e", "conf.json", "x"}, TraceModule::Failure::kestroInArgument);
    EXPECT_EQ(argument.status, 1);
    EXPECT_EQ(splitLines(argument.out).back(), "verbose bad argument x");

    ProcessResult foreign = run(dir, {"-e", "50001"}, TraceModule::Failure::foreignInPlay);
    EXPECT_TRUE(foreign.exited);  // no terminate, no abort
    EXPECT_EQ(foreign.status, 1);
    EXPECT_EQ(foreign.out.find("Player finished"), std::string::npos);
}

TEST(ModuleIvr, RealSessionReadsTheAgiBlockFromStandardInput) {
    TempDir dir;
    // A robot name that is a FIFO: opening it would block, so a run that
    // finishes proves the robot was never read without -e.
    ASSERT_EQ(mkfifo(dir.file("call.xml").c_str(), 0600), 0);
    std::string input = "agi_callerid: 551\nagi_version: 13.1.0\nagi_channel: SIP/1\n\n";
    for (int reply = 0; reply < 40; ++reply) input += "200 result=1\n";

    ProcessResult result = run(dir, {"-r", "call", "50004", "conf.json", "y"}, TraceModule::Failure::none, input);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0);
    const std::string& out = result.out;
    std::size_t mode = out.find("Agi is loaded in mode normal");
    std::size_t argument = out.find("module onReadArgument y");
    std::size_t destination = out.find("module setDestination 50004");
    std::size_t configuration = out.find("module loadConfiguration conf.json");
    std::size_t caller = out.find("module caller 551\n");
    std::size_t finished = out.find("Player finished by recorder");
    ASSERT_NE(mode, std::string::npos) << out;
    EXPECT_LT(argument, mode);
    EXPECT_LT(mode, destination);
    EXPECT_LT(destination, configuration);
    EXPECT_LT(configuration, caller);
    EXPECT_LT(caller, finished);
    EXPECT_NE(finished, std::string::npos);
    EXPECT_NE(out.find("notice from module"), std::string::npos);
    EXPECT_EQ(out.find("emulator"), std::string::npos);
}

// A sink that keeps what it is given.
class KeepingSink : public DebuggerToolsImpl {
public:
    void notice(const char* text) override { texts.emplace_back(text); }
    std::vector<std::string> texts;
};

TEST(DebuggerTools, DeliversToTheInstalledSinkOnly) {
    DebuggerTools::setImpl(nullptr);
    DebuggerTools::notice("dropped %d", 1);  // no sink yet

    KeepingSink sink;
    DebuggerTools::setImpl(&sink);
    DebuggerTools::notice("n %d %s", 2, "x");
    DebuggerTools::error("e %d", 3);
    DebuggerTools::notice(nullptr);
    DebuggerTools::error(nullptr);
    DebuggerTools::notice("%s", std::string(5000, 'z').c_str());

    KeepingSink other;
    DebuggerTools::setImpl(&other);
    DebuggerTools::notice("to the other");
    DebuggerTools::setImpl(nullptr);
    DebuggerTools::notice("dropped again");

    ASSERT_EQ(sink.texts.size(), 3u);
    EXPECT_EQ(sink.texts[0], "n 2 x");
    EXPECT_EQ(sink.texts[1], "e 3");
    EXPECT_EQ(sink.texts[2], std::string(4095, 'z'));
    EXPECT_EQ(other.texts, std::vector<std::string>{"to the other"});

    // A runner without a session forwards nothing, and a destroyed runner
    // removes itself from the facade.
    {
        ModuleIvr runner;
        runner.notice("no session");
        runner.notice(nullptr);
        DebuggerTools::setImpl(&runner);
        DebuggerTools::notice("still no session");
    }
    EXPECT_EQ(DebuggerTools::getImpl(), nullptr);
    DebuggerTools::setImpl(&sink);
    {
        ModuleIvr unrelated;
    }
    EXPECT_EQ(DebuggerTools::getImpl(), &sink);  // only its own installation
    DebuggerTools::setImpl(nullptr);
}

}  // namespace
}  // namespace tarvik::testing
