// A device's row in a run over several devices: as its event lines and its child's end leave it,
// and the short texts a row shows.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

namespace {

FleetRow fed(const std::vector<std::string>& lines) {
    FleetRow row;
    row.address = "10.0.0.1";
    for (const std::string& line : lines) fleet_apply_event(&row, line);
    return row;
}

TEST(FleetRow, StatesFollowTheEvents) {
    std::vector<std::string> lines{
        R"j({"event":"start","ms":1,"product":"TEV-4400","image_version":"3.2.9(b)"})j",
        R"j({"event":"connect","ms":1,"attempt":3,"attempts":10})j",
        R"j({"event":"status","ms":2,"product_name":"TEV-4400\u001b[2J","software_version":"3.1.8(a)","mac_address":"00:0e:08:aa:bb:cc"})j",
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
                        "connecting", "no answer, attempt 3 of 10", "connecting", "connecting",
                        "waiting for the request", "uploading 0%", "uploading 50%", "flashing",
                        "flashing, 12 s left", "verifying (attempt 2)", "verified"}));
    FleetRow row = fed(lines);
    EXPECT_EQ(row.product, "TEV-4400 [2J");  // no control characters reach the terminal
    EXPECT_EQ(row.image, "");  // no event named one
    EXPECT_EQ(row.mac, "00:0e:08:aa:bb:cc");
    EXPECT_EQ(row.after, "3.2.9(b)");

    // Not events: the row stays as it was. After the result nothing moves it.
    FleetRow half = fed({lines[0], lines[4]});
    for (const char* line : {"", "not json", "[1,2]", R"j({"ms":3})j", R"j({"event":7})j"}) {
        EXPECT_FALSE(fleet_apply_event(&half, line)) << line;
    }
    EXPECT_EQ(half.state, FleetState::WAITING_REQUEST);
    EXPECT_TRUE(fleet_apply_event(&row, lines[6]));
    EXPECT_EQ(row.state, FleetState::VERIFIED);
}

// The image a device got or would get, from the status, the check or the result event; none for
// a device of another model.
TEST(FleetRow, TheImageComesWithTheEvents) {
    struct Case {
        std::vector<std::string> lines;
        std::string image;
    } cases[] = {
        {{R"j({"event":"status","product_name":"TEV-610","image_product":"TEV-610","image_version":"1.5.0"})j"},
         "TEV-610 1.5.0"},
        {{R"j({"event":"check","product_name":"TEV-4400","image_product":"TEV-4400","image_version":"3.2.9(b)"})j"},
         "TEV-4400 3.2.9(b)"},
        {{R"j({"event":"status","product_name":"TEV-610","image_product":"","image_version":""})j",
          R"j({"event":"result","result":"other-model","text":"x","image_product":"","image_version":""})j"},
         ""},
        {{R"j({"event":"result","result":"verified","text":"ok","image_product":"TEV-4400","image_version":"3.2.9(b)\u001b"})j"},
         "TEV-4400 3.2.9(b) "},
    };
    for (const Case& c : cases) EXPECT_EQ(fed(c.lines).image, c.image) << c.lines.back();
}

TEST(FleetRow, TheChildsEndDecides) {
    const std::string verified =
        R"j({"event":"result","ms":10,"result":"verified","text":"ok","version_after":"3.2.9(b)"})j";
    const std::string current = R"j({"event":"result","result":"current","text":"ok"})j";
    const std::string needs = R"j({"event":"result","result":"needs-upgrade","text":"ok"})j";
    const std::string other =
        R"j({"event":"result","result":"other-model","text":"TEV-610; the image is for TEV-4400"})j";
    const std::string abort =
        R"j({"event":"result","ms":10,"result":"failed","text":"Upgrade Failed: User Abort"})j";
    const std::string silent = R"j({"event":"connect","attempt":4,"attempts":10})j";
    const std::string uploaded = R"j({"event":"uploaded"})j";
    const std::string deadline = "passed its deadline of 600 s";
    struct Case {
        std::vector<std::string> lines;
        FleetChildEnd end;
        std::string shown;
    } cases[] = {
        {{verified}, {true, 0, "", ""}, "verified"},
        {{current}, {true, 0, "", ""}, "already current"},
        {{needs}, {true, 3, "", ""}, "needs upgrade"},
        // Not done, so status 1; with any other status the child did not end as it says.
        {{other}, {true, 1, "", ""}, "other model: TEV-610; the image is for TEV-4400"},
        {{other}, {true, 0, "", ""},
         "failed: ended with status 0 after its result 'other-model': check the device's version"},
        {{needs}, {true, 0, "", ""},
         "failed: ended with status 0 after its result 'needs-upgrade': check the device's version"},
        {{verified}, {true, 1, "", ""},
         "failed: ended with status 1 after its result 'verified': check the device's version"},
        {{verified}, {false, SIGKILL, "", ""},
         "failed: killed by signal 9 after its result 'verified': check the device's version"},
        // Ctrl-C passed on before the child had taken the signal over: cancelled, not crashed.
        {{}, {false, SIGINT, "", "", true}, "failed: cancelled"},
        {{uploaded}, {false, SIGINT, "", "", true}, "failed: interrupted while flashing"},
        {{}, {false, SIGINT, "", "", false}, "failed: crashed: signal 2"},
        {{abort}, {true, 1, "", ""}, "failed: cancelled"},
        // The run's deadline, not a person, cancelled it: no "User Abort".
        {{abort}, {true, 1, deadline, ""}, "failed: passed its deadline of 600 s"},
        {{silent, abort}, {true, 1, deadline, ""}, "failed: passed its deadline of 600 s; no answer"},
        // Cancelled once the image was sent: the device may be writing its flash.
        {{uploaded, abort}, {true, 1, "", ""}, "failed: interrupted while flashing"},
        {{uploaded}, {false, SIGKILL, deadline, ""},
         "failed: passed its deadline of 600 s; interrupted while flashing; killed by signal 9"},
        {{R"j({"event":"listening","ms":1,"port":69})j"}, {false, SIGSEGV, "", "AddressSanitizer: SEGV"},
         "failed: crashed: signal 11: AddressSanitizer: SEGV"},
        {{}, {false, SIGKILL, "", ""}, "failed: killed by signal 9"},
        {{}, {true, 0, "", ""}, "failed: ended with status 0 without a result"},
        {{}, {true, static_cast<int>(0xC0000005u), "", ""}, "failed: crashed: exception 0xC0000005"},
    };
    for (const Case& c : cases) {
        FleetRow row = fed(c.lines);
        row.started_ms = 1000;
        fleet_child_ended(&row, c.end, 3500);
        EXPECT_EQ(fleet_state_text(row), c.shown) << row.reason;
        EXPECT_EQ(row.ended_ms, 3500);
    }
}

// One exit status for both programs, and what a row keeps when a later step runs it again.
TEST(FleetRow, TheExitStatusAndARowAcrossSteps) {
    auto rows_in = [](std::initializer_list<FleetState> states) {
        std::vector<FleetRow> rows;
        for (FleetState state : states) rows.push_back(FleetRow{}), rows.back().state = state;
        return rows;
    };
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::VERIFIED, FleetState::CURRENT})), 0);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::CURRENT, FleetState::NEEDS_UPGRADE})), 3);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::NEEDS_UPGRADE, FleetState::FAILED})), 1);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::VERIFIED, FleetState::NOT_STARTED})), 1);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::VERIFIED, FleetState::QUEUED})), 1);
    // A device of another model is not done, but a check that found work for the run says so.
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::VERIFIED, FleetState::OTHER_MODEL})), 1);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::CURRENT, FleetState::OTHER_MODEL})), 1);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::OTHER_MODEL, FleetState::NEEDS_UPGRADE})), 3);
    EXPECT_EQ(fleet_exit_status(rows_in({FleetState::NEEDS_UPGRADE, FleetState::OTHER_MODEL,
                                         FleetState::FAILED})),
              1);

    FleetRow kept;
    kept.label = "office 2";
    kept.product = "TEV-4400";
    kept.serial = "TV1";
    kept.before = "3.1.8(a)";
    kept.state = FleetState::NEEDS_UPGRADE;
    FleetRow failed_early;
    failed_early.state = FleetState::FAILED;
    failed_early.reason = "Upgrade Failed: No Response From TEV";
    fleet_row_take(&kept, failed_early);
    EXPECT_EQ(kept.state, FleetState::FAILED);
    EXPECT_EQ(kept.label, "office 2");
    EXPECT_EQ(kept.product, "TEV-4400");
    EXPECT_EQ(kept.serial, "TV1");
    FleetRow read;
    read.state = FleetState::CURRENT;
    read.product = "TEV-4400X";
    read.before = "3.2.9(b)";  // the version an earlier step gave it
    fleet_row_take(&kept, read);
    EXPECT_EQ(kept.state, FleetState::CURRENT);
    EXPECT_EQ(kept.product, "TEV-4400X");
    EXPECT_EQ(kept.before, "3.1.8(a)");
}

TEST(FleetRow, ShortReasonsFitARow) {
    struct Case {
        const char* full;
        const char* shown;
    } cases[] = {
        {"Upgrade Failed: the device refused the password", "wrong password"},
        {"Upgrade Failed: No Response From TEV", "no answer"},
        {"Upgrade Failed: Firmware Upload Incomplete", "upload incomplete"},
        {"Upgrade Failed: Version not matching", "version not matching"},
        {"Upgrade Failed: Can't bind TFTP listener socket", "Can't bind TFTP listener socket"},
        {"passed its deadline of 9 s; Upgrade Failed: No Response From TEV",
         "passed its deadline of 9 s; no answer"},
        {INTERRUPTED_FLASHING_TEXT, "interrupted while flashing"},
    };
    for (const Case& c : cases) EXPECT_EQ(fleet_short_reason(c.full), c.shown);
}

}  // namespace
