// The address check: the dotted parser on well-formed, malformed and oversized texts.
#include "ui/ipv4_parse.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* text;
    Ipv4ParseResult result;
    std::uint32_t address;
};

void expect_parse(const Case& c) {
    std::uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(parse_ipv4_text(c.text, &address), c.result) << '"' << c.text << '"';
    EXPECT_EQ(address, c.address) << '"' << c.text << '"';
}

TEST(ParseIpv4, ReadsFourNumbersMostSignificantFirst) {
    for (const Case& c : {
             Case{"192.168.0.1", IPV4_OK, 0xC0A80001},
             Case{"001.002.003.004", IPV4_OK, 0x01020304},
             Case{"255.255.255.255", IPV4_OK, 0xFFFFFFFF},
             Case{"0.0.0.0", IPV4_OK, 0},
         }) {
        expect_parse(c);
    }
}

TEST(ParseIpv4, RunsOfFullStopsAndAsterisksSeparateAlike) {
    for (const char* text : {"1*2*3*4", "..1.2.3.4", "1..2.3.4.", ".1.2.3.4.", "1.*2*.3.4"}) {
        expect_parse({text, IPV4_OK, 0x01020304});
    }
}

TEST(ParseIpv4, LengthIsCheckedBeforeAnyCharacter) {
    for (const Case& c : {
             Case{"1.2.3", IPV4_BAD_LENGTH, 0},
             Case{"", IPV4_BAD_LENGTH, 0},
             Case{"abcdef", IPV4_BAD_LENGTH, 0},
             Case{"1.2.3.4.5.6.7.8", IPV4_TOO_MANY_NUMBERS, 0},  // 15: still inside
             Case{"1.2.3.4.5.6.7.89", IPV4_BAD_LENGTH, 0},       // 16
             Case{"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", IPV4_BAD_LENGTH, 0},
         }) {
        expect_parse(c);
    }
}

TEST(ParseIpv4, RefusesAnyOtherCharacter) {
    for (const char* text :
         {"1.2.3.4 ", " 1.2.3.4", "a.b.c.d.e", "1.2.3.-4", "1,2,3,4", "1.2.3.4\n"}) {
        expect_parse({text, IPV4_BAD_CHARACTER, 0});
    }
}

TEST(ParseIpv4, CountsAndRangesInTextOrder) {
    for (const Case& c : {
             Case{"1.2.3.4.5", IPV4_TOO_MANY_NUMBERS, 0}, Case{"256.1.1.1", IPV4_NUMBER_RANGE, 0},
             Case{"1.1.1.256", IPV4_NUMBER_RANGE, 0},
             Case{"1.22.333", IPV4_NUMBER_RANGE, 0},  // 333 comes before the count
             Case{"10.20.30", IPV4_TOO_FEW_NUMBERS, 0}, Case{".......", IPV4_TOO_FEW_NUMBERS, 0},
             Case{"1.2.3.4.999", IPV4_TOO_MANY_NUMBERS, 0},  // the fifth is not even read
         }) {
        expect_parse(c);
    }
}

// Long digit runs fit the length limit; each must be refused as out of range, never wrapped
// around into a small number (4294967297 is 2^32 + 1 and would otherwise read as 1).
TEST(ParseIpv4, LongDigitRunsAreOutOfRangeNotOverflowed) {
    for (const char* text : {"1234567890123.4", "12345678901234", "4294967297.1.1", "1.1.1.4294967",
                             "99999999999.1.1", "1.2.3.429496729"}) {
        expect_parse({text, IPV4_NUMBER_RANGE, 0});
    }
    // Leading zeros do not count towards the value, however many there are.
    expect_parse({"0000000000001", IPV4_TOO_FEW_NUMBERS, 0});
    expect_parse({"00000001.2.3.4", IPV4_OK, 0x01020304});
}

}  // namespace
