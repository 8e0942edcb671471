#include "util/StringTools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tarvik::StringTools;

namespace {

std::string trimmed(std::string text, const char* chars = nullptr, bool defaultSet = true) {
    if (defaultSet) {
        StringTools::trim(text);
    } else {
        StringTools::trim(text, chars);
    }
    return text;
}

}  // namespace

TEST(StringTools, TrimsOnlyTheGivenCharacters) {
    EXPECT_EQ(trimmed("   "), "");
    EXPECT_EQ(trimmed("\tabc "), "\tabc");
    EXPECT_EQ(trimmed(" a b \r"), "a b \r");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed("(abc)", " ()", false), "abc");
    EXPECT_EQ(trimmed("( )", " ()", false), "");
    EXPECT_EQ(trimmed(" x ", nullptr, false), " x ");

    std::string left = "  a  ";
    StringTools::ltrim(left);
    EXPECT_EQ(left, "a  ");
    std::string right = "  a  ";
    StringTools::rtrim(right);
    EXPECT_EQ(right, "  a");
    std::string onlyTrimmed = "xxyxx";
    StringTools::rtrim(onlyTrimmed, "xy");
    EXPECT_EQ(onlyTrimmed, "");
}

TEST(StringTools, ReplacesEveryOccurrenceWithoutRescanningTheReplacement) {
    std::string text = "aaa";
    std::string search = "a";
    std::string replacement = "aa";
    StringTools::findAndReplaceAll(text, search, replacement);
    EXPECT_EQ(text, "aaaaaa");

    text = "a-b-c";
    search = "-";
    replacement = "";
    StringTools::findAndReplaceAll(text, search, replacement);
    EXPECT_EQ(text, "abc");

    text = "abab";
    search = "ab";
    replacement = "b";
    StringTools::findAndReplaceAll(text, search, replacement);
    EXPECT_EQ(text, "bb");

    text = "unchanged";
    search = "";
    StringTools::findAndReplaceAll(text, search, replacement);
    EXPECT_EQ(text, "unchanged");
}

TEST(StringTools, FindRegexCapturesTwoMatchesAtMost) {
    std::vector<std::string> out{"stale"};
    EXPECT_TRUE(StringTools::findRegex("k1=v1 k2=v2 k3=v3", "([a-z0-9]+)=([a-z0-9]+)", out));
    EXPECT_EQ(out, (std::vector<std::string>{"k1=v1", "k1", "v1", "k2=v2", "k2", "v2"}));

    // "^" never matches at the start of the text.
    EXPECT_TRUE(StringTools::findRegex("abc", "^abc", out));
    EXPECT_TRUE(out.empty());

    // Captures stop at the first group that did not take part.
    EXPECT_TRUE(StringTools::findRegex("xyz", "(q)?y", out));
    EXPECT_EQ(out, (std::vector<std::string>{"y"}));

    EXPECT_FALSE(StringTools::findRegex(nullptr, "a", out));
    EXPECT_FALSE(StringTools::findRegex("a", nullptr, out));
    EXPECT_FALSE(StringTools::findRegex("a", "(", out));
    EXPECT_TRUE(out.empty());

    // An empty match does not make the search stand still.
    EXPECT_TRUE(StringTools::findRegex("ab", "x*", out));
    EXPECT_EQ(out, (std::vector<std::string>{"", ""}));
}
