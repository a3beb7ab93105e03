// The device list of a run over several devices: the file's lines, labels, comments and repeats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/fleet_devices.h"

namespace {

std::vector<std::string> addresses(const std::vector<FleetDevice>& list) {
    std::vector<std::string> all;
    for (const FleetDevice& device : list) all.push_back(device.address);
    return all;
}

TEST(FleetDevices, FileLinesLabelsCommentsAndRepeats) {
    std::vector<FleetDevice> list;
    std::string problem;
    ASSERT_TRUE(add_fleet_device(&list, "10.0.0.9", "", &problem));
    ASSERT_TRUE(add_fleet_devices_text(
        &list,
        "# site A\n\n  10.0.0.1\t# desk\r\n10.0.0.2\r\n   \n#10.0.0.9\n10.0.0.3  office 2\n"
        "10.0.0.4#hall\x1b[2J",
        "a.txt", &problem))
        << problem;
    EXPECT_EQ(addresses(list), (std::vector<std::string>{"10.0.0.9", "10.0.0.1", "10.0.0.2",
                                                         "10.0.0.3", "10.0.0.4"}));
    EXPECT_EQ(list[1].label, "desk");
    EXPECT_EQ(list[2].label, "");
    EXPECT_EQ(list[3].label, "office 2");
    EXPECT_EQ(list[4].label, "hall [2J");  // no control characters reach a terminal

    // A repeat is refused however it is spelled, naming the file and the line.
    EXPECT_FALSE(add_fleet_devices_text(&list, "10.0.0.7\n\n10.0.0.09\n", "b.txt", &problem));
    EXPECT_EQ(problem, "b.txt:3: 10.0.0.9 is listed twice");
    EXPECT_FALSE(add_fleet_devices_text(&list, "# x\n10.0.0.300 lab\n", "c.txt", &problem));
    EXPECT_EQ(problem, "c.txt:2: '10.0.0.300' is not an IPv4 address");
    EXPECT_FALSE(add_fleet_device(&list, "0.0.0.0", "", &problem));
}

}  // namespace
