// The console's table of a run over several devices: the rows a short window keeps, the summary,
// the logs and the retry command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet_rows.h"
#include "main/fleet_table.h"

namespace {

TEST(FleetTable, AShortWindowKeepsTheRowsThatMatter) {
    using S = FleetState;
    std::vector<FleetRow> rows;
    for (int i = 0; i < 8; ++i) rows.push_back(row_of("10.0.0." + std::to_string(i), S::VERIFIED, 0, 1));
    rows[6].state = S::FAILED;
    rows[6].reason = "Upgrade Failed: No Response From TEV";
    rows[7].state = S::UPLOADING;
    rows[3].state = S::QUEUED;
    // Height 7: the head, the names, four rows, the count of the rest.
    std::vector<std::string> lines = fleet_table_lines(rows, "head", 80, 7);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "head");
    EXPECT_EQ(lines[2].substr(0, 9), "10.0.0.0 ");
    EXPECT_EQ(lines[3].substr(0, 9), "10.0.0.3 ");
    EXPECT_EQ(lines[4], "10.0.0.6  -        -       -      -      failed: no answer");
    EXPECT_EQ(lines[5].substr(0, 9), "10.0.0.7 ");
    EXPECT_EQ(lines[6], "... and 4 more");
    // More running rows than room: the failed one still shows.
    for (int i : {0, 1, 2, 4, 5}) rows[i].state = S::FLASHING;
    lines = fleet_table_lines(rows, "head", 80, 6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2].substr(0, 9), "10.0.0.0 ");
    EXPECT_EQ(lines[4].substr(0, 9), "10.0.0.6 ");
    EXPECT_EQ(lines[5], "... and 5 more");
    // A narrow window cuts every line; a tall one shows every row.
    for (const std::string& line : fleet_table_lines(rows, std::string(100, 'h'), 20, 7)) {
        EXPECT_LT(line.size(), 20u);
    }
    EXPECT_EQ(fleet_table_lines(rows, "head", 80, 50).size(), 10u);
}

TEST(FleetTable, TheSummaryEndsWithTheLogsAndTheRetry) {
    using S = FleetState;
    FleetRow good = row_of("10.0.0.1", S::VERIFIED, 0, 31'250);
    good.label = "desk";
    good.before = "1.0";
    good.after = "2.0";
    FleetRow bad = row_of("10.0.0.22", S::FAILED, 0, 700);
    bad.reason = "Upgrade Failed: No Response From TEV";
    FleetRow later = row_of("10.0.0.3", S::NOT_STARTED);
    later.reason = "2 devices failed (--max-failures 2)";
    good.image = "TEV-4400 2.0";
    FleetRow other = row_of("10.0.0.4", S::OTHER_MODEL, 0, 100);
    other.product = "TEV-610";
    other.before = "1.4.2";
    other.reason = "TEV-610; the image is for TEV-4400";
    FleetSummaryFacts facts;
    facts.total_ms = 65'000;
    facts.stopped_early = later.reason;
    facts.log_dir = "logs";
    const char* arguments[] = {"tev-upgrade", "--devices", "site list.txt", "--yes"};
    facts.retry_command = fleet_retry_command(4, arguments);
    EXPECT_EQ(fleet_summary({good, bad, later, other}, facts),
              "ADDRESS    LABEL  PRODUCT  BEFORE  AFTER  IMAGE         TIME    RESULT\n"
              "10.0.0.1   desk   -        1.0     2.0    TEV-4400 2.0  31.2 s  verified\n"
              "10.0.0.22  -      -        -       -      -             0.7 s   failed: Upgrade Failed: No Response From TEV\n"
              "10.0.0.3   -      -        -       -      -             -       not started: 2 devices failed (--max-failures 2)\n"
              "10.0.0.4   -      TEV-610  1.4.2   -      -             0.1 s   other model: TEV-610; the image is for TEV-4400\n"
              "1 of 4 devices verified, 1 failed, 1 not started, 1 left alone for its model; total time 1:05\n"
              "Stopped early: 2 devices failed (--max-failures 2)\n"
              "Logs of the failed devices:\n"
              "  logs/10.0.0.22.log\n"
              "To retry the devices not done, run:\n"
              "  tev-upgrade --devices 'site list.txt' --yes --skip-current\n");
    const char* again[] = {"tev-upgrade", "--skip-current", "--user", "it's"};
    EXPECT_EQ(fleet_retry_command(4, again), "tev-upgrade --skip-current --user 'it'\\''s'");
    // The retry's report goes beside this run's, which keeps the record of what it did.
    const char* reported[] = {"tev-upgrade", "--report", "site.csv", "--rep=out/site-retry1.json"};
    EXPECT_EQ(fleet_retry_command(4, reported),
              "tev-upgrade --report site-retry1.csv --rep=out/site-retry2.json --skip-current");
    EXPECT_EQ(fleet_retry_report("a.b/report"), "a.b/report-retry1");
    facts.report_problem = "can't write site.csv: No space left on device";
    EXPECT_NE(fleet_summary({good}, facts).find("The report is not whole: can't write site.csv: "
                                                "No space left on device\n"),
              std::string::npos);
}

}  // namespace
