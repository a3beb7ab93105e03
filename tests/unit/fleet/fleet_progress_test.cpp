// The progress of a run over several devices: the time left from the finished devices and the
// waves left, the clock texts and the head line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/fleet_progress.h"
#include "fleet_rows.h"

namespace {

FleetRow flashing(std::int64_t started, int seconds_left) {
    FleetRow row = row_of("f", FleetState::FLASHING, started);
    row.seconds_left = seconds_left;
    return row;
}

TEST(FleetProgress, TimeLeftFromTheFinishedAndTheWavesLeft) {
    using S = FleetState;
    struct Case {
        const char* what;
        std::vector<FleetRow> rows;
        int jobs;
        std::int64_t now, eta;
    } cases[] = {
        {"nothing ended yet", {row_of("a", S::CONNECTING, 0), row_of("b", S::QUEUED)}, 1, 5000, -1},
        {"one wave left after the running one",
         {row_of("a", S::VERIFIED, 0, 30'000), row_of("b", S::UPLOADING, 30'000),
          row_of("c", S::QUEUED)},
         1, 40'000, 20'000 + 30'000},
        {"three queued at two a time: two waves",
         {row_of("a", S::VERIFIED, 0, 20'000), row_of("b", S::FAILED, 0, 40'000),
          row_of("c", S::QUEUED), row_of("d", S::QUEUED), row_of("e", S::QUEUED)},
         2, 40'000, 2 * 30'000},
        {"a running one past the mean: no estimate rather than a wrong one",
         {row_of("a", S::VERIFIED, 0, 10'000), row_of("b", S::UPLOADING, 0)}, 4, 50'000, -1},
        {"never less than a flashing one's own time left",
         {row_of("a", S::VERIFIED, 0, 10'000), flashing(0, 26)}, 4, 50'000, 26'000},
        {"all ended", {row_of("a", S::VERIFIED, 0, 10'000)}, 4, 50'000, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(fleet_eta_ms(c.rows, c.jobs, c.now), c.eta) << c.what;

    EXPECT_EQ(fleet_clock_text(65'400), "1:05");
    EXPECT_EQ(fleet_clock_text(3'725'000), "1:02:05");
    EXPECT_EQ(fleet_eta_text(-1), "");
    EXPECT_EQ(fleet_eta_text(40'200), "about 41 s left");
    EXPECT_EQ(fleet_eta_text(100'000), "about 2 min left");

    std::vector<FleetRow> rows{row_of("a", S::VERIFIED, 0, 60'000), row_of("b", S::CURRENT, 0, 1000),
                               row_of("c", S::FAILED, 0, 2000), row_of("d", S::VERIFYING, 60'000),
                               row_of("e", S::QUEUED), row_of("f", S::OTHER_MODEL)};
    EXPECT_EQ(fleet_head_line(rows, 1, 0, 65'000),
              "4 of 6 done: 1 verified, 1 current, 1 other model, 1 failed; 1 running; 1:05 "
              "elapsed, about 37 s left");
}

}  // namespace
