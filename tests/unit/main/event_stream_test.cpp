// The run's events: each one JSON line whatever the device sent, and the quiet result line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "core/run_images.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "main/event_stream.h"

namespace {

std::vector<nlohmann::json> lines_of(std::FILE* file) {
    std::rewind(file);
    std::vector<nlohmann::json> lines;
    char line[4096];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        lines.push_back(nlohmann::json::parse(line));  // throws on anything but one object a line
    }
    return lines;
}

TEST(RunEventsTest, EveryEventIsOneJsonLineAndTheDevicesStringsAreEscaped) {
    std::FILE* events = std::tmpfile();
    std::FILE* result_line = std::tmpfile();
    std::strcpy(upgrade_state.device_ip_text, "10.1.0.123");
    run_images_clear();  // no image chosen
    EventStream stream(events, nullptr, result_line, event_clock_ms());
    DeviceInfo device{};
    std::strcpy(device.product_name, "TEV\"4400\"\n{\"event\":\"result\"}");
    std::strcpy(device.software_version, "3.1\x01\xff\xfe");
    stream.started("1.0.0", "TEV-4400", "3.2.9(b)");
    stream.status_read(device);
    stream.request_from(0x7F000002, 1234);
    stream.flash_wait(30);
    stream.result(RunResult::FAILED, "Upgrade Failed: User Abort", "3.1.8(a)", "");
    stream.verify(2);
    stream.result(RunResult::VERIFIED, "TEV@10.1.0.123 Upgrade Successful!", "3.1.8(a)", "3.2.9(b)");
    stream.result(RunResult::FAILED, "Upgrade Failed: Version not matching", "3.1.8(a)", "3.2.9(c)");
    std::vector<nlohmann::json> lines = lines_of(events);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1]["event"], "status");
    EXPECT_EQ(lines[1]["product_name"], "TEV\"4400\"\n{\"event\":\"result\"}");
    EXPECT_EQ(lines[1]["software_version"], "3.1\x01\xEF\xBF\xBD\xEF\xBF\xBD");  // U+FFFD twice
    EXPECT_EQ(lines[2]["address"], "127.0.0.2");
    EXPECT_EQ(lines[3]["event"], "flash-wait");
    EXPECT_EQ(lines[4]["result"], "failed");
    EXPECT_EQ(lines[4]["text"], "Upgrade Failed: User Abort");
    EXPECT_EQ(lines[4]["version_before"], "3.1.8(a)");
    EXPECT_EQ(lines[4]["version_after"], "");
    EXPECT_EQ(lines[4]["device"], "10.1.0.123");
    EXPECT_EQ(lines[5], (nlohmann::json{{"event", "verify"}, {"ms", lines[5]["ms"]}, {"attempt", 2}}));
    nlohmann::json verified = lines[6];
    verified.erase("ms");
    EXPECT_EQ(verified, (nlohmann::json{{"event", "result"},
                                        {"result", "verified"},
                                        {"text", "TEV@10.1.0.123 Upgrade Successful!"},
                                        {"device", "10.1.0.123"},
                                        {"version_before", "3.1.8(a)"},
                                        {"version_after", "3.2.9(b)"},
                                        {"image_product", ""},
                                        {"image_version", ""}}));
    EXPECT_EQ(lines[7]["result"], "failed");  // whatever version the device reported
    EXPECT_EQ(lines[7]["version_after"], "3.2.9(c)");
    for (const nlohmann::json& line : lines) EXPECT_TRUE(line["ms"].is_number());
    std::rewind(result_line);
    char text[128] = "";
    ASSERT_NE(std::fgets(text, sizeof text, result_line), nullptr);
    EXPECT_STREQ(text, "10.1.0.123: failed: Upgrade Failed: User Abort\n");
    std::fclose(events);
    std::fclose(result_line);
}

}  // namespace
