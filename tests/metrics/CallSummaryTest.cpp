// The call's summary line: the document shows its last three digits only,
// and whatever the caller or the back office sent stays one bounded line of
// words.

#include <gtest/gtest.h>

#include <string>

#include "metrics/CallSummary.h"

namespace tarvik::testing {
namespace {

TEST(CallSummary, DocumentsShowTheirLastThreeDigitsOnly) {
    EXPECT_EQ(CallSummary::maskDocument("52998224725"), "********725");
    EXPECT_EQ(CallSummary::maskDocument("12345678000190"), "***********190");
    EXPECT_EQ(CallSummary::maskDocument("1234"), "*234");
    EXPECT_EQ(CallSummary::maskDocument("123"), "***");
    EXPECT_EQ(CallSummary::maskDocument(""), "-");
    // A caller who leans on the keypad: no longer than twenty.
    EXPECT_EQ(CallSummary::maskDocument(std::string(300, '9')), std::string(17, '*') + "999");
}

TEST(CallSummary, OneLineOfWordsWhateverTheValues) {
    CallSummary summary;
    summary.setUniqueId("1796777065.3");
    summary.setCaller("\"Ana\" <11987654321>\n%s%n");
    summary.setFound(CallSummary::Found::byDocument);
    summary.setDocument("52998224725");
    summary.setContract(std::string(500, 'c'));
    summary.setExit("50005", "7000", 1);
    summary.setSeconds(23.44);
    summary.setRequests(7, 0.0414);
    summary.setNotDelivered(2);
    const std::string line = summary.line();
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_LT(line.size(), 600u) << line;
    EXPECT_EQ(line,
              "call uniqueid=1796777065.3 caller=\"Ana\"_<11987654321>_%s%n found=document document=********725 "
              "contract=" + std::string(64, 'c') +
                  " exit=50005 extension=7000 route=1 seconds=23.4 requests=7 longest_wait_ms=41 not_delivered=2");

    CallSummary nothing;
    EXPECT_EQ(nothing.line(),
              "call uniqueid=- caller=- found=not-found document=- contract=- exit=- extension=- route=none "
              "seconds=0.0 requests=0 longest_wait_ms=0 not_delivered=0");
}

}  // namespace
}  // namespace tarvik::testing
