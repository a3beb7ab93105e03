// What a run over several devices shows and leaves: the report (CSV and JSON, hostile device
// texts, the whole-file rewrite), the time left and the head line, the table on a short window,
// the summary and the retry command.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/fleet_progress.h"
#include "fleet/fleet_report.h"
#include "main/fleet_table.h"

namespace {

FleetRow row_of(const std::string& address, FleetState state, std::int64_t started = -1,
                std::int64_t ended = -1) {
    FleetRow row;
    row.address = address;
    row.state = state;
    row.started_ms = started;
    row.ended_ms = ended;
    return row;
}

TEST(FleetReport, CsvCellsNeitherRunNorBreak) {
    struct Case {
        const char* text;
        const char* cell;
    } cases[] = {
        {"TEV-4400", "TEV-4400"},
        {"", ""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"3.1.8(a)", "3.1.8(a)"},
    };
    for (const Case& c : cases) EXPECT_EQ(csv_cell(c.text), c.cell) << c.text;
}

TEST(FleetReport, EveryEndedDeviceInBothFormats) {
    FleetRow verified = row_of("10.0.0.1", FleetState::CONNECTING, 1000, 32'250);
    // Its phases come with its result; its second child verified it.
    fleet_apply_event(&verified, R"({"event":"result","result":"verified","seconds_status":0.25,)"
                                 R"("seconds_transfer":1.5,"seconds_flash":30.02})");
    verified.attempts = 2;
    verified.label = "office, 2";
    verified.product = "=cmd";
    verified.mac = "00:0e:08:aa:bb:cc";
    verified.serial = "S1";
    verified.hardware = "1.0";
    verified.before = "3.1.8(a)";
    verified.after = "3.2.9(b)";
    verified.image = "TEV-4400 3.2.9(b)";
    FleetRow failed = row_of("10.0.0.2", FleetState::FAILED, 1000, 1700);
    failed.reason = "Upgrade Failed: the device refused the password";
    FleetRow running = row_of("10.0.0.3", FleetState::UPLOADING, 1000);
    FleetRow later = row_of("10.0.0.4", FleetState::NOT_STARTED);
    later.reason = "the canary 10.0.0.2 failed (--canary 1)";
    FleetRow other = row_of("10.0.0.5", FleetState::OTHER_MODEL, 1000, 1100);
    other.product = "TEV-610";
    other.reason = "TEV-610; the image is for TEV-4400";
    std::vector<FleetRow> rows{verified, failed, running, later, other};

    EXPECT_EQ(fleet_report_text(rows, FleetReportFormat::CSV),
              "address,label,product,mac,serial,hardware,version_before,version_after,result,"
              "reason,image,seconds,seconds_status,seconds_transfer,seconds_flash,attempts\r\n"
              "10.0.0.1,\"office, 2\",'=cmd,00:0e:08:aa:bb:cc,S1,1.0,3.1.8(a),3.2.9(b),verified,,"
              "TEV-4400 3.2.9(b),31.2,0.2,1.5,30.0,2\r\n"
              "10.0.0.2,,,,,,,,failed,Upgrade Failed: the device refused the password,,0.7,,,,0\r\n"
              "10.0.0.4,,,,,,,,not-started,the canary 10.0.0.2 failed (--canary 1),,,,,,0\r\n"
              "10.0.0.5,,TEV-610,,,,,,other-model,TEV-610; the image is for TEV-4400,,0.1,,,,0\r\n");

    auto json = nlohmann::ordered_json::parse(fleet_report_text(rows, FleetReportFormat::JSON));
    ASSERT_EQ(json.size(), 4u);
    std::vector<std::string> keys;
    for (auto& item : json[0].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"address", "label", "product", "mac", "serial",
                                              "hardware", "version_before", "version_after",
                                              "result", "reason", "image", "seconds",
                                              "seconds_status", "seconds_transfer",
                                              "seconds_flash", "attempts"}));
    EXPECT_EQ(json[0]["image"], "TEV-4400 3.2.9(b)");
    EXPECT_EQ(json[3]["result"], "other-model");
    EXPECT_EQ(json[0]["product"], "=cmd");  // JSON is data, not a formula: kept as it came
    EXPECT_DOUBLE_EQ(json[0]["seconds"].get<double>(), 31.2);
    EXPECT_EQ(json[1]["result"], "failed");
    EXPECT_TRUE(json[2]["seconds"].is_null());
    EXPECT_DOUBLE_EQ(json[0]["seconds_flash"].get<double>(), 30.0);
    EXPECT_TRUE(json[1]["seconds_flash"].is_null());
    EXPECT_EQ(json[0]["attempts"], 2);

    FleetReportFormat format;
    EXPECT_TRUE(fleet_report_format("site.CSV", &format));
    EXPECT_EQ(format, FleetReportFormat::CSV);
    EXPECT_TRUE(fleet_report_format("a/b.json", &format));
    EXPECT_EQ(format, FleetReportFormat::JSON);
    EXPECT_FALSE(fleet_report_format("report.txt", &format));
    EXPECT_FALSE(fleet_report_format("csv", &format));
}

TEST(FleetReport, RewrittenWholeWithNothingLeftBeside) {
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / ("fleet-report-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string path = (folder / "site.csv").string();
    std::vector<FleetRow> rows{row_of("10.0.0.1", FleetState::VERIFIED, 0, 1000),
                               row_of("10.0.0.2", FleetState::CONNECTING, 0)};
    std::string problem;
    ASSERT_TRUE(fleet_report_write(path, rows, FleetReportFormat::CSV, &problem)) << problem;
    rows[1] = row_of("10.0.0.2", FleetState::CURRENT, 0, 500);
    ASSERT_TRUE(fleet_report_write(path, rows, FleetReportFormat::CSV, &problem)) << problem;
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), fleet_report_text(rows, FleetReportFormat::CSV));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    // Replaced, not written over in place: a second name of the old file keeps the old text, as a
    // reader that had it open does.
    std::string kept = (folder / "kept.csv").string();
    fs::create_hard_link(path, kept);
    rows.pop_back();
    ASSERT_TRUE(fleet_report_write(path, rows, FleetReportFormat::CSV, &problem)) << problem;
    std::ifstream old_file(kept, std::ios::binary);
    std::stringstream old_text;
    old_text << old_file.rdbuf();
    EXPECT_EQ(old_text.str(), text.str());
    // A folder that is not there: a problem, not a crash.
    EXPECT_FALSE(fleet_report_write((folder / "no" / "r.csv").string(), rows,
                                    FleetReportFormat::CSV, &problem));
    EXPECT_NE(problem.find("no/r.csv"), std::string::npos) << problem;
    // A link planted at the temporary file's name is neither followed nor removed.
    std::string victim = (folder / "victim").string();
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, path + ".tmp" + std::to_string(::getpid()));
    ASSERT_TRUE(fleet_report_write(path, rows, FleetReportFormat::CSV, &problem)) << problem;
    std::ifstream victim_file(victim);
    std::string victim_text;
    std::getline(victim_file, victim_text);
    EXPECT_EQ(victim_text, "precious");
    EXPECT_TRUE(fs::is_symlink(path + ".tmp" + std::to_string(::getpid())));
    fs::remove_all(folder);
}

// A rewrite that fails half way (the file size limit) keeps the last whole report and leaves no
// temporary file beside it.
void rewrite_over_the_size_limit(const std::string& path) {
    std::vector<FleetRow> rows(200, row_of("10.0.0.1", FleetState::VERIFIED, 0, 1000));
    std::string problem;
    rlimit limit{4096, 4096};
    std::signal(SIGXFSZ, SIG_IGN);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::exit(3);
    bool written = fleet_report_write(path, rows, FleetReportFormat::CSV, &problem);
    std::ifstream file(path);
    std::string first;
    std::getline(file, first);
    bool kept = first == "whole";
    bool alone = std::distance(std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()),
                               std::filesystem::directory_iterator()) == 1;
    std::fprintf(stderr, "%s|%s|%d%d\n", problem.c_str(), first.c_str(), kept, alone);
    std::exit(!written && kept && alone ? 0 : 1);
}

TEST(FleetReport, ARewriteThatFailsKeepsTheLastWholeReport) {
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / ("fleet-limit-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string path = (folder / "site.csv").string();
    std::ofstream(path) << "whole\n";
    EXPECT_EXIT(rewrite_over_the_size_limit(path), ::testing::ExitedWithCode(0),
                "can't write .*site.csv: File too large");
    fs::remove_all(folder);
}

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
