// A scan's range read into its addresses: the networks /20 to /32 and their edges, spans of
// addresses, and the texts refused with their reasons.
#include <gtest/gtest.h>

#include "fleet/scan_range.h"

namespace {

const struct {
    const char* text;
    std::size_t count;  // 0: refused
    const char* first;  // or the problem
    const char* last;
} RANGES[] = {
    // A network without its own address and its broadcast; the host bits given are ignored.
    {"192.168.1.0/24", 254, "192.168.1.1", "192.168.1.254"},
    {"192.168.1.77/24", 254, "192.168.1.1", "192.168.1.254"},
    {"10.0.0.0/20", 4094, "10.0.0.1", "10.0.15.254"},
    {"10.0.0.9/30", 2, "10.0.0.9", "10.0.0.10"},
    {"10.0.0.9/31", 2, "10.0.0.8", "10.0.0.9"},
    {"10.0.0.9/32", 1, "10.0.0.9", "10.0.0.9"},
    {"0.0.0.1/31", 1, "0.0.0.1", "0.0.0.1"},
    {"10.0.0.0/19", 0, "a prefix from /20 to /32 (at most 4096 addresses)", nullptr},
    {"10.0.0.0/2x", 0, "a prefix from /20 to /32 (at most 4096 addresses)", nullptr},
    {"10.0.0.0/024", 0, "a prefix from /20 to /32 (at most 4096 addresses)", nullptr},
    // Spans: both ends included, at most 4096 addresses.
    {"10.0.0.250-10.0.1.5", 12, "10.0.0.250", "10.0.1.5"},
    {"10.0.0.0-10.0.15.255", 4096, "10.0.0.0", "10.0.15.255"},
    {"10.0.0.0-10.0.16.0", 0, "4097 addresses; at most 4096", nullptr},
    {"10.0.0.9-10.0.0.8", 0, "the first address comes after the last", nullptr},
    {"1.0.0.0-255.255.255.255", 0, "4278190080 addresses; at most 4096", nullptr},
    // Text that is no range.
    {"10.0.0.300/24", 0, "'10.0.0.300': a number is greater than 255", nullptr},
    {"0.0.0.0/24", 0, "'0.0.0.0': 0.0.0.0 names no device", nullptr},
    {"10.0.0.1-x", 0, "'x': it is shorter than 7 characters", nullptr},
    {"10.0.0.1", 0, "a range is A.B.C.D/NN or A.B.C.D-E.F.G.H", nullptr},
    {"10.0.0.1/24-10.0.0.9", 0, "a range is A.B.C.D/NN or A.B.C.D-E.F.G.H", nullptr},
};

TEST(ScanRange, ReadsNetworksAndSpansAndRefusesTheRest) {
    for (const auto& c : RANGES) {
        SCOPED_TRACE(c.text);
        std::vector<FleetDevice> devices{{"stale", ""}};
        std::string problem;
        bool read = scan_range_read(c.text, &devices, &problem);
        if (c.count == 0) {
            EXPECT_FALSE(read);
            EXPECT_EQ(problem, c.first);
            continue;
        }
        ASSERT_TRUE(read) << problem;
        ASSERT_EQ(devices.size(), c.count);
        EXPECT_EQ(devices.front().address, c.first);
        EXPECT_EQ(devices.back().address, c.last);
    }
}

}  // namespace
