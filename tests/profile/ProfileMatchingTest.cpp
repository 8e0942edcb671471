#include <gtest/gtest.h>

#include <map>
#include <string>

#include "profile/ProfileCondition.h"
#include "profile/ProfileDestination.h"

namespace tarvik {
namespace {

using Marks = std::map<std::string, std::string>;

TEST(ProfileConditionTest, MatchesOnlyExactMarkNamesAndValues) {
    ProfileCondition always;
    EXPECT_TRUE(always.match({}));
    EXPECT_TRUE(always.match({{"plan", "fiber"}}));

    ProfileCondition fiber;
    ASSERT_TRUE(fiber.setCondition("plan", "fiber"));
    EXPECT_TRUE(fiber.match({{"plan", "fiber"}}));
    EXPECT_FALSE(fiber.match({{"plan", "Fiber"}}));
    EXPECT_FALSE(fiber.match({{"plan", "fiber "}}));
    EXPECT_FALSE(fiber.match({{"plan", "fibe"}}));
    EXPECT_FALSE(fiber.match({{"Plan", "fiber"}}));
    EXPECT_FALSE(fiber.match({}));

    // An empty required value is met by an empty mark, not by a missing one.
    ProfileCondition empty;
    ASSERT_TRUE(empty.setCondition("plan", ""));
    EXPECT_TRUE(empty.match({{"plan", ""}}));
    EXPECT_FALSE(empty.match({}));

    ProfileCondition both;
    ASSERT_TRUE(both.setCondition("plan", "fiber"));
    ASSERT_TRUE(both.setCondition("type", "pj"));
    EXPECT_TRUE(both.match({{"plan", "fiber"}, {"type", "pj"}, {"state", "ready"}}));
    EXPECT_FALSE(both.match({{"plan", "fiber"}, {"state", "ready"}}));
    EXPECT_FALSE(both.match({{"type", "pj"}}));
    EXPECT_FALSE(both.match({{"plan", "fiber"}, {"type", "pf"}}));
}

TEST(ProfileConditionTest, RefusesASecondVariableForTheSameMark) {
    ProfileCondition condition;
    EXPECT_TRUE(condition.setCondition("plan", "fiber", 5));
    EXPECT_FALSE(condition.setCondition("plan", "radio", 9));
    EXPECT_FALSE(condition.setCondition("plan", "fiber"));
    ASSERT_EQ(condition.getVariables().size(), 1u);
    EXPECT_EQ(condition.getVariables()[0]->getValue(), "fiber");
    EXPECT_EQ(condition.getVariables()[0]->getPriority(), 5u);
    EXPECT_TRUE(condition.match({{"plan", "fiber"}}));
    EXPECT_FALSE(condition.match({{"plan", "radio"}}));

    EXPECT_TRUE(condition.setCondition("type", "pf"));
    EXPECT_EQ(condition.getVariables()[1]->getPriority(), 1u);
}

TEST(ProfileDestinationTest, KeepsTheFirstReplacementAndAnswersOnlyWhenItsConditionHolds) {
    ProfileDestination entry;
    EXPECT_TRUE(entry.setDestination("50005", "9000"));
    EXPECT_FALSE(entry.setDestination("50005", "9100"));
    EXPECT_STREQ(entry.getDestination("50005"), "9000");
    EXPECT_EQ(entry.getDestination("50006"), nullptr);

    ASSERT_TRUE(entry.getCondition().setCondition("type", "pj"));
    // The one-name form ignores the condition; the marks form honours it.
    EXPECT_STREQ(entry.getDestination("50005"), "9000");
    EXPECT_STREQ(entry.getDestination("50005", {{"type", "pj"}}), "9000");
    EXPECT_EQ(entry.getDestination("50005", {{"type", "pf"}}), nullptr);
    EXPECT_EQ(entry.getDestination("50006", {{"type", "pj"}}), nullptr);
    EXPECT_TRUE(entry.match({{"type", "pj"}}));
    EXPECT_FALSE(entry.match({}));
}

}  // namespace
}  // namespace tarvik
