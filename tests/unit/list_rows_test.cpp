// The Windows list window's rows and buttons as texts, and the rows each of its steps runs.
#include "main/list_rows.h"
#include "main/list_settings.h"

#include <gtest/gtest.h>

namespace {

FleetRow row_in(FleetState state) {
    FleetRow row;
    row.address = "127.0.0.2";
    row.state = state;
    return row;
}

TEST(ListRows, StateTextsOfEachStep) {
    struct Case {
        FleetState state;
        bool checking;
        int number;  // percent, seconds left or connect attempt, as the state has it
        const char* reason;
        const char* shown;
    };
    const Case cases[] = {
        {FleetState::QUEUED, true, 0, "", "checking"},
        {FleetState::CONNECTING, true, 3, "", "checking"},
        {FleetState::QUEUED, false, 0, "", "queued"},
        {FleetState::CONNECTING, false, 0, "", "connecting"},
        {FleetState::CONNECTING, false, 3, "", "no answer, attempt 3 of 10"},
        {FleetState::UPLOADING, false, 45, "", "uploading 45 %"},
        {FleetState::FLASHING, false, -1, "", "flashing"},
        {FleetState::FLASHING, false, 25, "", "flashing 25 s"},
        {FleetState::VERIFYING, false, 2, "", "verifying"},
        {FleetState::VERIFIED, false, 0, "", "verified"},
        {FleetState::CURRENT, true, 0, "", "current"},
        {FleetState::NEEDS_UPGRADE, true, 0, "", "needs upgrade"},
        {FleetState::FAILED, true, 0, "Upgrade Failed: the device refused the password",
         "failed: wrong password"},
        {FleetState::FAILED, false, 0,
         "Upgrade Failed: the device wants a password; give it with /passwordfile FILE or "
         "TEV_PASSWORD",
         "failed: password needed"},
        {FleetState::NOT_STARTED, false, 0, "stopped", "not started"},
    };
    for (const Case& c : cases) {
        FleetRow row = row_in(c.state);
        row.percent = c.number;
        row.seconds_left = c.number;
        row.connect_attempt = c.number;
        row.connect_attempts = 10;
        row.reason = c.reason;
        EXPECT_EQ(list_state_text(row, c.checking), c.shown);
    }
}

TEST(ListRows, ColumnsButtonsAndCaption) {
    FleetRow row = row_in(FleetState::VERIFIED);
    row.label = "office 2";
    row.product = "TEV-4400";
    row.before = "3.1.8(a)";
    row.after = "3.2.9(b)";
    EXPECT_EQ(list_row_texts(row, false), (std::vector<std::string>{"127.0.0.2  office 2", "TEV-4400",
                                                                     "3.1.8(a)", "3.2.9(b)",
                                                                     "verified"}));
    EXPECT_STREQ(list_column_title(LIST_BEFORE), "Version Before");
    EXPECT_EQ(list_upgrade_text(1), "Upgrade 1 Device");
    EXPECT_EQ(list_upgrade_text(12), "Upgrade 12 Devices");
    EXPECT_EQ(list_window_title("TEV-4400", 4), "TEV-4400 Firmware Upgrade: 4 Devices");
}

TEST(ListRows, WhichRowsEachStepRunsAndTheStatus) {
    std::vector<FleetRow> rows = {row_in(FleetState::NEEDS_UPGRADE), row_in(FleetState::CURRENT),
                                  row_in(FleetState::FAILED), row_in(FleetState::NEEDS_UPGRADE),
                                  row_in(FleetState::NOT_STARTED)};
    EXPECT_EQ(list_rows_to_upgrade(rows, false), (std::vector<std::size_t>{0, 3}));
    EXPECT_EQ(list_rows_to_upgrade(rows, true), (std::vector<std::size_t>{0, 1, 3}));
    EXPECT_EQ(list_rows_to_retry(rows), (std::vector<std::size_t>{2, 4}));
    EXPECT_EQ(list_exit_status(rows), 1);
    rows = {row_in(FleetState::CURRENT), row_in(FleetState::NEEDS_UPGRADE)};
    EXPECT_EQ(list_exit_status(rows), 3);
    rows = {row_in(FleetState::CURRENT), row_in(FleetState::VERIFIED)};
    EXPECT_EQ(list_exit_status(rows), 0);
    rows = {row_in(FleetState::VERIFIED), row_in(FleetState::NOT_STARTED)};
    EXPECT_EQ(list_exit_status(rows), 1);

    FleetRow wants = row_in(FleetState::FAILED);
    wants.reason = "Upgrade Failed: the device wants a password; give it with /passwordfile FILE";
    EXPECT_TRUE(list_row_wants_password(wants));
    wants.reason = "Upgrade Failed: the device refused the password";
    EXPECT_FALSE(list_row_wants_password(wants));
}

TEST(ListRows, AStepsRowKeepsWhatTheCheckReadUntilItReadsItself) {
    FleetRow shown = row_in(FleetState::NEEDS_UPGRADE);
    shown.label = "office 2";
    shown.product = "TEV-4400";
    shown.serial = "TV1";
    shown.before = "3.1.8(a)";
    FleetRow failed_early = row_in(FleetState::FAILED);
    failed_early.reason = "Upgrade Failed: No Response From TEV";
    list_row_take(&shown, failed_early);
    EXPECT_EQ(shown.state, FleetState::FAILED);
    EXPECT_EQ(shown.label, "office 2");
    EXPECT_EQ(shown.product, "TEV-4400");
    EXPECT_EQ(shown.serial, "TV1");
    EXPECT_EQ(shown.before, "3.1.8(a)");
    FleetRow read = row_in(FleetState::VERIFIED);
    read.product = "TEV-4400X";
    read.before = "3.2.0";
    list_row_take(&shown, read);
    EXPECT_EQ(shown.product, "TEV-4400X");
    EXPECT_EQ(shown.before, "3.2.0");
}

}  // namespace

namespace {

CommandLine windows_line(std::vector<const char*> arguments) {
    return parse_command_line(static_cast<int>(arguments.size()), arguments.data(),
                              OptionStyle::WINDOWS);
}

// The list window's options: the devices in order, the numbers in range, the report's kind.
TEST(ListSettings, DevicesNumbersAndReport) {
    ListSettings settings;
    std::string problem;
    ASSERT_TRUE(list_settings_read(windows_line({"/device", "10.0.0.2", "/device", "10.0.0.3",
                                                 "/jobs", "2", "/canary", "1", "/report",
                                                 "site.JSON"}),
                                   &settings, &problem))
        << problem;
    ASSERT_EQ(settings.plan.devices.size(), 2u);
    EXPECT_EQ(settings.plan.devices[1].address, "10.0.0.3");
    EXPECT_EQ(settings.plan.jobs, 2);
    EXPECT_EQ(settings.plan.canary, 1);
    EXPECT_EQ(settings.format, FleetReportFormat::JSON);
    struct Case {
        std::vector<const char*> arguments;
        const char* problem;
    };
    const Case cases[] = {
        {{"/device", "10.0.0.2", "/device", "10.0.0.02"},
         "/device 10.0.0.2 is listed twice"},
        {{"/device", "10.0.0.2", "/device", "10.0.0.3", "/jobs", "257"},
         "/jobs needs a number from 1 to 256"},
        {{"/device", "10.0.0.2", "/device", "10.0.0.3", "/canary", "3"},
         "/canary needs a number from 1 to 2"},
        {{"/device", "10.0.0.2", "/report", "site.txt"},
         "/report needs a file name ending in .csv or .json"},
        {{"/device", "10.0.0.2", "/device", "10.0.0.3", "/log", "x.log"},
         "/events and /log are for one device"},
    };
    for (const Case& c : cases) {
        ListSettings wrong;
        EXPECT_FALSE(list_settings_read(windows_line(c.arguments), &wrong, &problem));
        EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
    }
}

}  // namespace
