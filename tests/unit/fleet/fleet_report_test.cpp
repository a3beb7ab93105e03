// The report a run over several devices leaves: CSV and JSON, hostile device texts, the
// whole-file rewrite.
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

#include "fleet/fleet_report.h"
#include "fleet_rows.h"

namespace {

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

}  // namespace
