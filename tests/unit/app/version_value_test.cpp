// Version texts read as numbers: the order the transition decision relies on.
#include <gtest/gtest.h>

#include "app/upgrade_sequence.h"

#include <cstring>

#include "core/upgrade_state.h"

namespace {

TEST(VersionValue, ThreeComponentsWeighHundredsAndTheRestIsNotRead) {
    EXPECT_EQ(version_value("3.2.9(b)"), 30209);
    EXPECT_EQ(version_value("3.2"), 302);
    EXPECT_EQ(version_value("3.2.100"), 30300);
    EXPECT_EQ(version_value("3.3.0"), 30300);
    EXPECT_EQ(version_value("1.2.3.4.5"), 10203);
    EXPECT_EQ(version_value(""), 0);
    EXPECT_EQ(version_value("3."), 300);
}

TEST(VersionValue, LeadingZeroReadsOctalAndZeroXHexadecimal) {
    EXPECT_EQ(version_value("3.1.010"), 30108);
    EXPECT_EQ(version_value("3.1.08"), 30100);  // "0" octal, then the 8 is skipped as a separator
    EXPECT_EQ(version_value("0x1f.2"), 3102);
    EXPECT_EQ(version_value("0X10"), 16);
    // "0" read and "x" skipped; "g" and "." give no number, and the three components are used up.
    EXPECT_EQ(version_value("0xg.5"), 0);
    EXPECT_EQ(version_value("0x.5"), 5);
}

TEST(VersionValue, BlanksAndSignsAreTakenAsTheLibraryTakesThem) {
    EXPECT_EQ(version_value(" \t3.\n2"), 302);
    EXPECT_EQ(version_value("+3.2"), 302);
    EXPECT_EQ(version_value("-1"), -1);
    EXPECT_EQ(version_value("3.-1"), 299);
    // A text without digits leaves the position where it was: one character is skipped.
    EXPECT_EQ(version_value("v3.2"), 302);
    EXPECT_EQ(version_value("ab"), 0);
}

TEST(VersionValue, NumbersTooLargeFor32BitsSaturateOnEveryPlatform) {
    // 4294967295 as the first of one component, whatever the width of unsigned long.
    EXPECT_EQ(version_value("99999999999"), -1);
    EXPECT_EQ(version_value("4294967296"), -1);
    EXPECT_EQ(version_value("4294967295"), -1);
    EXPECT_EQ(version_value("-99999999999"), -1);
    // The largest value then takes part in the wrapping arithmetic like any other.
    EXPECT_EQ(version_value("1.99999999999"), static_cast<std::int32_t>(100u + 4294967295u));
    EXPECT_EQ(version_value("4294967294"), -2);
}

}  // namespace
