// The run over several devices: the device list from the options and a devices file, and each
// device's row as its event lines and its process's end leave it.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "main/fleet_devices.h"
#include "main/fleet_table.h"

namespace {

TEST(FleetDevices, FileLinesCommentsAndRepeats) {
    std::vector<std::string> list;
    std::string problem;
    ASSERT_TRUE(add_fleet_device(&list, "10.0.0.9", &problem));
    ASSERT_TRUE(add_fleet_devices_text(
        &list, "# site A\n\n  10.0.0.1\t# desk\r\n10.0.0.2\r\n   \n#10.0.0.9\n10.0.0.3", "a.txt",
        &problem))
        << problem;
    EXPECT_EQ(list, (std::vector<std::string>{"10.0.0.9", "10.0.0.1", "10.0.0.2", "10.0.0.3"}));

    // A repeat is refused however it is spelled, naming the file and the line.
    EXPECT_FALSE(add_fleet_devices_text(&list, "10.0.0.7\n\n10.0.0.09\n", "b.txt", &problem));
    EXPECT_EQ(problem, "b.txt:3: 10.0.0.9 is listed twice");
    EXPECT_FALSE(add_fleet_devices_text(&list, "# x\n10.0.0.300\n", "c.txt", &problem));
    EXPECT_EQ(problem, "c.txt:2: '10.0.0.300' is not an IPv4 address");
    EXPECT_FALSE(add_fleet_device(&list, "0.0.0.0", &problem));
}

TEST(FleetDevices, RepeatedDeviceOptionKeepsEveryAddress) {
    std::vector<const char*> arguments{"--device", "10.0.0.1", "--device=10.0.0.2", "--yes"};
    CommandLine line = parse_command_line(4, arguments.data(), OptionStyle::LINUX);
    ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
    ASSERT_EQ(line.device_count, 2);
    EXPECT_STREQ(line.devices[1], "10.0.0.2");
    EXPECT_STREQ(line.device, "10.0.0.1");
    std::vector<const char*> bad{"--device", "10.0.0.1", "--device", "10.0.0.x"};
    EXPECT_EQ(parse_command_line(4, bad.data(), OptionStyle::LINUX).action, CommandAction::BAD_USAGE);
    // --dev starts both --device and --devices.
    std::vector<const char*> start{"--dev", "10.0.0.1"};
    EXPECT_STREQ(parse_command_line(2, start.data(), OptionStyle::LINUX).problem,
                 "option '--dev' is ambiguous; possibilities: '--device' '--devices'");
}

FleetRow fed(const std::vector<std::string>& lines) {
    FleetRow row;
    row.address = "10.0.0.1";
    for (const std::string& line : lines) fleet_apply_event(&row, line);
    return row;
}

TEST(FleetRow, StatesFollowTheEvents) {
    std::vector<std::string> lines{
        R"j({"event":"start","ms":1,"product":"TEV-4400","image_version":"3.2.9(b)"})j",
        R"j({"event":"status","ms":2,"product_name":"TEV-4400\u001b[2J","software_version":"3.1.8(a)"})j",
        R"j({"event":"confirmed","ms":3})j",
        R"j({"event":"listening","ms":4,"port":70})j",
        R"j({"event":"request","ms":5,"address":"10.0.0.1","port":2000})j",
        R"j({"event":"upload","ms":6,"bytes":474407,"total":948814})j",
        R"j({"event":"uploaded","ms":7})j",
        R"j({"event":"flash-wait","ms":8,"seconds_left":12})j",
        R"j({"event":"verify","ms":9,"attempt":2})j",
        R"j({"event":"result","ms":10,"result":"verified","text":"TEV@10.0.0.1 Upgrade Successful!","version_before":"3.1.8(a)","version_after":"3.2.9(b)"})j"};
    std::vector<std::string> seen;
    for (std::size_t n = 1; n <= lines.size(); ++n) {
        seen.push_back(fleet_state_text(fed({lines.begin(), lines.begin() + n})));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "connecting", "connecting", "connecting", "waiting for the request",
                        "uploading 0%", "uploading 50%", "flashing", "flashing, 12 s left",
                        "verifying (attempt 2)", "verified"}));
    FleetRow row = fed(lines);
    EXPECT_EQ(row.product, "TEV-4400 [2J");  // no control characters reach the terminal
    EXPECT_EQ(row.after, "3.2.9(b)");

    // Not events: the row stays as it was. After the result nothing moves it.
    FleetRow half = fed({lines[0], lines[3]});
    for (const char* line : {"", "not json", "[1,2]", R"j({"ms":3})j", R"j({"event":7})j"}) {
        EXPECT_FALSE(fleet_apply_event(&half, line)) << line;
    }
    EXPECT_EQ(half.state, FleetState::WAITING_REQUEST);
    EXPECT_TRUE(fleet_apply_event(&row, lines[5]));
    EXPECT_EQ(row.state, FleetState::VERIFIED);
}

TEST(FleetRow, TheProcessEndDecides) {
    const std::string verified =
        R"j({"event":"result","ms":10,"result":"verified","text":"ok","version_after":"3.2.9(b)"})j";
    const std::string failed =
        R"j({"event":"result","ms":10,"result":"failed","text":"Upgrade Failed: User Abort"})j";
    struct Case {
        std::vector<std::string> lines;
        FleetChildEnd end;
        std::string shown;
    } cases[] = {
        {{verified}, {true, 0, "", ""}, "verified"},
        {{verified}, {true, 1, "", ""}, "failed: verified, but then ended with status 1 without a result"},
        {{failed}, {true, 1, "", ""}, "failed: Upgrade Failed: User Abort"},
        {{failed}, {true, 1, "no end after 600 s", ""}, "failed: no end after 600 s; Upgrade Failed: User Abort"},
        {{R"j({"event":"listening","ms":1,"port":69})j"}, {false, SIGSEGV, "", "AddressSanitizer: SEGV"},
         "failed: crashed: signal 11 (Segmentation fault): AddressSanitizer: SEGV"},
        {{}, {false, SIGKILL, "", ""}, "failed: killed by signal 9 (Killed)"},
        {{}, {true, 0, "", ""}, "failed: ended with status 0 without a result"},
    };
    for (const Case& c : cases) {
        FleetRow row = fed(c.lines);
        row.started_ms = 1000;
        fleet_child_ended(&row, c.end, 3500);
        EXPECT_EQ(fleet_state_text(row), c.shown);
        EXPECT_EQ(row.ended_ms, 3500);
    }
}

TEST(FleetSummary, OneLinePerDeviceAndTheCount) {
    FleetRow good = fed({R"j({"event":"result","ms":1,"result":"verified","text":"ok","version_before":"1.0","version_after":"2.0"})j"});
    good.started_ms = 0;
    good.ended_ms = 31250;
    FleetRow bad = fed({R"j({"event":"result","ms":1,"result":"failed","text":"Upgrade Failed: No Response From TEV"})j"});
    bad.address = "10.0.0.22";
    std::string summary = fleet_summary({good, bad});
    EXPECT_EQ(summary,
              "ADDRESS    PRODUCT  BEFORE  AFTER  TIME    RESULT\n"
              "10.0.0.1   -        1.0     2.0    31.2 s  verified\n"
              "10.0.0.22  -        -       -      -       failed: Upgrade Failed: No Response From TEV\n"
              "1 of 2 devices verified\n");
}

}  // namespace
