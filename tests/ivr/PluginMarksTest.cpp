#include <gtest/gtest.h>

#include "ivr/Plugin.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {
namespace {

std::string markOf(Plugin& plugin, const std::string& key) {
    const char* value = plugin.getMark(key);
    return value == nullptr ? "(none)" : value;
}

TEST(PluginMarksTest, MarkArgumentsAreParsedAfterTheFirstDoubleColon) {
    Plugin plugin;
    plugin.onReadArgument("mark::a:b");
    plugin.onReadArgument("mark::a:c");
    EXPECT_EQ(markOf(plugin, "a"), "c");  // a later value replaces

    plugin.onReadArgument("mark::plano:fibra:100");
    EXPECT_EQ(markOf(plugin, "plano"), "fibra:100");

    plugin.onReadArgument("mark::b:");  // nothing after the last colon
    EXPECT_EQ(markOf(plugin, "b"), "(none)");
    plugin.onReadArgument("mark::c::");
    EXPECT_EQ(markOf(plugin, "c"), ":");

    plugin.onReadArgument("x-mark::k:v");  // the match need not start the text
    EXPECT_EQ(markOf(plugin, "k"), "v");

    plugin.onReadArgument("type:pf");
    plugin.onReadArgument("mark:type:pf");
    plugin.onReadArgument("");
    plugin.onReadArgument(nullptr);
    EXPECT_EQ(markOf(plugin, "type"), "(none)");

    EXPECT_EQ(plugin.getMarks().size(), 4u);  // a, plano, c, k
}

TEST(PluginMarksTest, SetAndGetDistinguishAbsentFromEmpty) {
    Plugin plugin;
    EXPECT_EQ(plugin.getMark("never"), nullptr);
    plugin.setMark("empty", "");
    ASSERT_NE(plugin.getMark("empty"), nullptr);
    EXPECT_STREQ(plugin.getMark("empty"), "");
    plugin.setMark("empty", "now set");
    EXPECT_STREQ(plugin.getMark("empty"), "now set");
}

TEST(PluginMarksTest, StartOfCallMarksComeAfterCommandLineMarks) {
    RecordingSession session;
    session.setAsteriskVariable("var1", "mark::state:busy");
    session.setAsteriskVariable("var2", "not a mark");
    session.setAsteriskVariable("var3", "mark::origin:var3");
    session.setAsteriskVariable("var5", "mark::late:never");  // var4 is absent

    Plugin plugin;
    plugin.onReadArgument("mark::state:from-command-line");
    plugin.onReadArgument("mark::origin:command-line");
    plugin.loadMark(session);

    // "state" = "ready" replaces the command line; var1 replaces it again.
    EXPECT_EQ(markOf(plugin, "state"), "busy");
    EXPECT_EQ(markOf(plugin, "origin"), "var3");
    EXPECT_EQ(markOf(plugin, "late"), "(none)");
    EXPECT_TRUE(session.callSteps().empty());
}

TEST(PluginMarksTest, StartUpVariablesStopAtTheFirstAbsentOne) {
    RecordingSession session;
    session.setAsteriskVariable("var2", "mark::second:yes");

    Plugin plugin;
    plugin.onReadArgument("mark::state:cli");
    plugin.loadMark(session);
    EXPECT_EQ(markOf(plugin, "second"), "(none)");
    EXPECT_EQ(markOf(plugin, "state"), "ready");
    EXPECT_EQ(plugin.getMarks().size(), 1u);
}

TEST(PluginMarksTest, EnvironmentFillsOnlyWhatIsPresent) {
    RecordingSession session;
    session.setAsteriskVariable("agi_callerid", "1133334444");
    session.setAsteriskVariable("agi_uniqueid", "1700000000.12");

    Plugin plugin;
    plugin.loadEnv(session);
    EXPECT_EQ(plugin.getCallerId(), "1133334444");
    EXPECT_EQ(plugin.getProtocol(), "1700000000.12");
    EXPECT_EQ(plugin.getChannel(), "");

    RecordingSession later;
    later.setAsteriskVariable("agi_channel", "PJSIP/9-1");
    plugin.loadEnv(later);
    EXPECT_EQ(plugin.getCallerId(), "1133334444");  // absent: unchanged
    EXPECT_EQ(plugin.getChannel(), "PJSIP/9-1");
}

}  // namespace
}  // namespace tarvik::testing
