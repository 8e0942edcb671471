#include "util/BoundedFormat.h"

#include <gtest/gtest.h>

#include <string>

using tarvik::formatBounded;

TEST(BoundedFormat, FormatsAndCutsAt4095Bytes) {
    EXPECT_EQ(formatBounded("%s-%d", "a", 7), "a-7");
    std::string longText(5000, 'x');
    std::string out = formatBounded("%s", longText.c_str());
    EXPECT_EQ(out.size(), 4095u);
    EXPECT_EQ(formatBounded("%s", ""), "");
}
