#include "runner/IModuleIvr.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "tests/runner/RunnerTestSupport.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {
namespace {

class NamedModule : public IModuleIvr {
public:
    explicit NamedModule(const char* name) : IModuleIvr(name) {}
    void play(KestroAgiImpl&) override {}
    void setDestination(KestroAgiImpl&, const char*) override {}
    void loadConfiguration(KestroAgiImpl&, const char*) override {}
};

TEST(IModuleIvr, NameAndDefaults) {
    NamedModule unnamed(nullptr);
    EXPECT_EQ(unnamed.getName(), nullptr);

    char source[] = "plugin";
    NamedModule module(source);
    source[0] = 'X';  // the module keeps its own copy
    EXPECT_STREQ(module.getName(), "plugin");
    module.rename("orvel");
    EXPECT_STREQ(module.getName(), "orvel");
    module.setName(nullptr);
    EXPECT_EQ(module.getName(), nullptr);
    module.rename("again");
    module.rename(nullptr);
    EXPECT_EQ(module.getName(), nullptr);
    module.onReadArgument("mark::type:pf");  // ignored by the base
    module.onReadArgument(nullptr);
}

TEST(IModuleIvr, UrlFormat) {
    std::string out = "kept";
    IModuleIvr::urlFormat(out, nullptr);
    EXPECT_EQ(out, "kept");
    IModuleIvr::urlFormat(out, "%s/service/v1/%d", "http://127.0.0.1:8080", 7);
    EXPECT_EQ(out, "http://127.0.0.1:8080/service/v1/7");
    IModuleIvr::urlFormat(out, "%s", std::string(5000, 'u').c_str());
    EXPECT_EQ(out, std::string(4095, 'u'));
}

TEST(IModuleIvr, LoggerAppendsExactlyTheText) {
    TempDir dir;
    RecordingSession session;
    std::string path = dir.file("debug.log");

    IModuleIvr::logger(session, path.c_str(), "first %d", 1);
    IModuleIvr::logger(session, path.c_str(), "%s", "second 100%");
    IModuleIvr::logger(session, path.c_str(), "%s", "");
    EXPECT_EQ(dir.read("debug.log"), "first 1second 100%");  // one run-on line
    IModuleIvr::logger(session, path.c_str(), "%s\n", std::string(5000, 'l').c_str());
    EXPECT_EQ(dir.read("debug.log"), "first 1second 100%" + std::string(4095, 'l'));

    IModuleIvr::logger(session, nullptr, "x");
    IModuleIvr::logger(session, path.c_str(), nullptr);
    EXPECT_TRUE(session.operations().empty());

    // A missing directory: reported through the session, nothing created.
    std::string missing = dir.file("no-such-dir/debug.log");
    IModuleIvr::logger(session, missing.c_str(), "lost");
    EXPECT_NE(access(dir.file("no-such-dir").c_str(), F_OK), 0);
    // A device that refuses the bytes: the write failure names the text.
    IModuleIvr::logger(session, "/dev/full", "full %s", "text");

    std::vector<std::string> expected = {
        "verbose logger: failure on open to write " + missing + ", No such file or directory",
        "verbose logger: failure on write in /dev/full, full text",
    };
    EXPECT_EQ(session.operations(), expected);
}

int secondsNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

TEST(IModuleIvr, Time2Int) {
    EXPECT_EQ(IModuleIvr::time2Int("7:5:3"), 7 * 3600 + 5 * 60 + 3);
    EXPECT_EQ(IModuleIvr::time2Int("05:00:00"), 18000);
    EXPECT_EQ(IModuleIvr::time2Int("17:59:59"), 64799);
    EXPECT_EQ(IModuleIvr::time2Int("24:00:00"), 86400);
    EXPECT_EQ(IModuleIvr::time2Int("99:99:99"), 99 * 3600 + 99 * 60 + 99);
    EXPECT_EQ(IModuleIvr::time2Int("0007:0:0"), 7 * 3600);
    EXPECT_EQ(IModuleIvr::time2Int("596523:0:0"), 596523 * 3600);

    for (const char* unusable : {"07:30", " 07:30:00", "07:30:00 ", "", "7:5:3:1", "a:b:c", "-1:0:0", "1:2:3x",
                                 "now!", "596524:0:0", "99999999999999999999:0:0", "0:0:99999999999"}) {
        EXPECT_EQ(IModuleIvr::time2Int(unusable), 0) << unusable;
    }
    EXPECT_EQ(IModuleIvr::time2Int(nullptr), 0);

    // "now" in any case is the current time of day; the clock may tick
    // between the two readings (or wrap at midnight), so accept the window.
    for (const char* now : {"now", "NOW", "Now"}) {
        int before = secondsNow();
        int value = IModuleIvr::time2Int(now);
        int after = secondsNow();
        bool inWindow = before <= after ? (value >= before && value <= after) : (value >= before || value <= after);
        EXPECT_TRUE(inWindow) << now << " gave " << value;
    }
}

}  // namespace
}  // namespace tarvik::testing
