// What --check says about the back office's TLS and about the files the
// calls' user must read, run as real processes. The access cases need the
// test to run as root (as CI does) and a user "nobody"; they skip otherwise.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) all.push_back(line);
    return all;
}

std::string linesWith(const std::string& text, const std::string& part) {
    std::string found;
    for (const std::string& line : linesOf(text)) {
        if (line.find(part) != std::string::npos) found += line + "\n";
    }
    return found;
}

SimRun check(const std::string& config, const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments = {"--check", config, "--offline"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return runProgramToEnd(orvelProgram(), arguments, 20000);
}

TEST(CheckCallsUser, HttpsWithoutCertificateCheckIsAWarningNotAProblem) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("spool").c_str(), 0700), 0);
    auto configuration = [&](const std::string& address, const std::string& verify) {
        return dir.write("c.json", R"({"kestro": ")" + address + R"(", "spoolDirectory": ")" + dir.file("spool") +
                                       R"(", )" + verify + R"("plugin": {"driver": "demo", "id": "1"}})");
    };
    const std::string warning = "warning: the back office is reached over https without verifying its certificate "
                                "(key \"verifyTls\" is false or absent)";
    SimRun verified = check(configuration("https://127.0.0.1:9", R"("verifyTls": true, )"));
    EXPECT_EQ(linesWith(verified.output, "verifyTls"), "");
    ASSERT_FALSE(verified.output.empty());
    const std::string summary = linesOf(verified.output).back();
    ASSERT_EQ(summary.find("warning"), std::string::npos) << verified.output;

    for (const std::string& verify : {std::string(R"("verifyTls": false, )"), std::string()}) {
        for (const char* address : {"https://127.0.0.1:9", "HTTPS://127.0.0.1:9"}) {
            SCOPED_TRACE(std::string(address) + " " + verify);
            const std::string config = configuration(address, verify);
            SimRun unverified = check(config);
            EXPECT_EQ(unverified.exitStatus, verified.exitStatus) << unverified.output;
            EXPECT_EQ(linesWith(unverified.output, "verifyTls").rfind(config + ": " + warning, 0), 0u)
                << unverified.output;
            // The same problems, one warning more.
            EXPECT_EQ(linesOf(unverified.output).back(), summary + " (1 warning)");
        }
    }
    SimRun plain = check(configuration("http://127.0.0.1:9", R"("verifyTls": false, )"));
    EXPECT_EQ(linesWith(plain.output, "verifyTls"), "");
}

TEST(CheckCallsUser, UnknownUserIsAProblem) {
    TempDir dir;
    const std::string config = dir.write("c.json", R"({"kestro": "http://127.0.0.1:9"})");
    SimRun run = check(config, {"--as-user", "no-such-user-of-this-system"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.output.find(config + ": --as-user: there is no user \"no-such-user-of-this-system\""),
              std::string::npos)
        << run.output;
    SimRun misplaced = runProgramToEnd(orvelProgram(), {"--as-user", "nobody", config});
    EXPECT_EQ(misplaced.exitStatus, 1);
    EXPECT_EQ(misplaced.errors.rfind("ivr-orvel: --as-user goes only with --check\n", 0), 0u) << misplaced.errors;
}

class CheckAsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root";
        const passwd* entry = ::getpwnam("nobody");
        if (entry == nullptr) GTEST_SKIP() << "needs a user nobody";
        nobody = entry->pw_uid;
        nobodyGroup = entry->pw_gid;
        // The scratch folder itself lets everyone through; what is tested
        // is each file's own mode.
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(dir.file("spool").c_str(), 0700), 0);
        ASSERT_EQ(::chown(dir.file("spool").c_str(), nobody, nobodyGroup), 0);
        audio = dir.file("audio") + "/";
        dir.write("audio/Orvel-u4-03.wav", "RIFF");
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(dir.file("audio").c_str(), 0755), 0);
        ASSERT_EQ(::chmod(dir.file("audio/Orvel-u4-03.wav").c_str(), 0644), 0);
        config = dir.write("c.json", R"({"kestro": "http://127.0.0.1:9", "spoolDirectory": ")" + dir.file("spool") +
                                         R"(", "profile": {"route": [], "audio": [{"dir": ")" + audio +
                                         R"(", "variables": {"description": "all", "values": []}}]}})");
        ASSERT_EQ(::chmod(config.c_str(), 0644), 0);
    }

    // The problems about what the calls' user cannot do.
    std::string userLines(const SimRun& run) { return linesWith(run.output, "the calls' user"); }

    TempDir dir;
    uid_t nobody = 0;
    gid_t nobodyGroup = 0;
    std::string audio;
    std::string config;
};

TEST_F(CheckAsRoot, FilesOnlyRootCanReadAreProblemsNamingTheCallsUser) {
    SimRun readable = check(config);
    EXPECT_EQ(userLines(readable), "") << readable.output;

    // The spool's owner is the calls' user unless --as-user names another.
    ASSERT_EQ(::chmod(config.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir.file("audio/Orvel-u4-03.wav").c_str(), 0600), 0);
    const std::string owner = "the calls' user nobody (owner of spool directory \"" + dir.file("spool") + "\") ";
    SimRun hidden = check(config);
    EXPECT_EQ(hidden.exitStatus, 1);
    EXPECT_EQ(userLines(hidden),
              config + ": " + owner + "cannot read " + config +
                  " (owner root, group root, mode 0600): a call would run without its configuration\n" + config +
                  ": " + owner + "cannot read " + audio + "Orvel-u4-03.wav (owner root, group root, mode 0600): " +
                  "the prompt could not be played\n")
        << hidden.output;

    SimRun named = check(config, {"--as-user", "nobody"});
    EXPECT_NE(userLines(named).find(config + ": the calls' user nobody (--as-user) cannot read " + config), std::string::npos)
        << named.output;

    // Group read is enough for a member, not for others.
    ASSERT_EQ(::chmod(config.c_str(), 0640), 0);
    ASSERT_EQ(::chown(config.c_str(), 0, nobodyGroup), 0);
    SimRun group = check(config);
    EXPECT_EQ(linesWith(userLines(group), "a call would run without its configuration"), "") << group.output;
}

TEST_F(CheckAsRoot, ADirectoryOnTheWayStopsTheCallsUser) {
    ASSERT_EQ(::chmod(dir.file("audio").c_str(), 0700), 0);
    SimRun run = check(config);
    EXPECT_NE(userLines(run).find("cannot pass through directory " + dir.file("audio") +
                                  " (owner root, group root, mode 0700): its prompts could not be played"),
              std::string::npos)
        << run.output;

    // Root passes everywhere.
    SimRun asRoot = check(config, {"--as-user", "root"});
    EXPECT_EQ(userLines(asRoot), "") << asRoot.output;
}

}  // namespace
}  // namespace tarvik::testing
