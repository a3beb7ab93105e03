// The Windows list window's rows and buttons as texts, and the rows each of its steps runs.
#include "main/list_rows.h"

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
        {FleetState::UPLOADING, false, 45, "", "uploading 45%"},
        {FleetState::FLASHING, false, -1, "", "flashing"},
        {FleetState::FLASHING, false, 25, "", "flashing, 25 s left"},
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
        {FleetState::OTHER_MODEL, true, 0, "TEV-610; the image is for TEV-4400", "other model"},
        {FleetState::RETRY_WAIT, true, 28, "", "retry 2 of 3 in 28 s"},
    };
    for (const Case& c : cases) {
        FleetRow row = row_in(c.state);
        row.percent = c.number;
        row.seconds_left = c.number;
        row.connect_attempt = c.number;
        row.connect_attempts = 10;
        row.retry_in_s = c.number;
        row.attempts = 1;
        row.attempts_allowed = 3;
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
    row.image = "TEV-4400 3.2.9(b)";
    EXPECT_EQ(list_row_texts(row, false), (std::vector<std::string>{"127.0.0.2  office 2", "TEV-4400",
                                                                     "3.1.8(a)", "3.2.9(b)",
                                                                     "TEV-4400 3.2.9(b)",
                                                                     "verified"}));
    EXPECT_STREQ(list_column_title(LIST_BEFORE), "Version Before");
    EXPECT_STREQ(list_column_title(LIST_IMAGE), "Image");
    EXPECT_EQ(list_upgrade_text(1), "Upgrade 1 Device");
    EXPECT_EQ(list_upgrade_text(12), "Upgrade 12 Devices");
    EXPECT_EQ(list_window_title("TEV-4400", 4), "TEV-4400 Firmware Upgrade: 4 Devices");
}

TEST(ListRows, TheLineUnderTheListHasTheWholeReason) {
    FleetRow row = row_in(FleetState::FAILED);
    row.label = "office 2";
    row.reason = INTERRUPTED_FLASHING_TEXT;
    EXPECT_EQ(list_state_text(row, false), "failed: interrupted while flashing");
    EXPECT_EQ(list_row_detail(row, false),
              std::string("127.0.0.2  office 2: failed: ") + INTERRUPTED_FLASHING_TEXT);
    row.state = FleetState::NOT_STARTED;
    row.reason = "stopped";
    EXPECT_EQ(list_row_detail(row, false), "127.0.0.2  office 2: not started: stopped");
    row.state = FleetState::OTHER_MODEL;
    row.reason = "TEV-610; the image is for TEV-4400";
    EXPECT_EQ(list_row_detail(row, false),
              "127.0.0.2  office 2: other model: TEV-610; the image is for TEV-4400");
    EXPECT_EQ(list_stop_question(2).rfind("2 devices are writing", 0), 0u);
}

}  // namespace
