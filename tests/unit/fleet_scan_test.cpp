// A scan over fake children: what each address's end counts as, the run that keeps only the TEVs
// found (its report, its devices file, its exit status), the list window's upgrade after it, and
// the options that go with --scan.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/status_answer.h"
#include "fleet/fleet_scan.h"
#include "fleet/fleet_steps.h"

namespace {

struct FakeClock final : FleetClock {
    std::int64_t now = 1000;
    std::int64_t now_ms() override { return now; }
};

struct FakeChildren final : FleetChildren {
    std::vector<std::vector<std::string>> arguments;
    bool start(std::size_t, const std::vector<std::string>& args, const std::vector<std::string>&,
               std::string*) override {
        arguments.push_back(args);
        return true;
    }
    void cancel(std::size_t) override {}
    void kill(std::size_t) override {}
};

FleetRow ended(FleetState state, const std::string& reason = "") {
    FleetRow row;
    row.state = state;
    row.reason = reason;
    row.started_ms = 0;
    row.ended_ms = 10;
    return row;
}

struct AnswerCase {
    const char* what;
    FleetRow row;
    ScanAnswer answer;
};

TEST(ScanAnswer, EachEndCountsAsSilentOtherOrATev) {
    char error_status[STATUS_BOX_TEXT_SIZE];
    std::snprintf(error_status, sizeof error_status, ERROR_STATUS_FORMAT, "404 Not Found");
    FleetRow queued;
    const AnswerCase cases[] = {
        {"queued", queued, ScanAnswer::PENDING},
        {"not started", ended(FleetState::NOT_STARTED, "interrupted (Ctrl-C)"), ScanAnswer::NOT_ASKED},
        {"no answer", ended(FleetState::FAILED, "Upgrade Failed: No Response From TEV"),
         ScanAnswer::SILENT},
        {"a web page", ended(FleetState::FAILED, NOT_A_TEV_TEXT), ScanAnswer::OTHER},
        {"a login", ended(FleetState::FAILED, LOGIN_UNANSWERABLE_TEXT), ScanAnswer::OTHER},
        {"an error status", ended(FleetState::FAILED, error_status), ScanAnswer::OTHER},
        {"wrong password", ended(FleetState::FAILED, "Upgrade Failed: the device refused the password"),
         ScanAnswer::TEV},
        {"cancelled, no answer", ended(FleetState::FAILED, "passed its deadline of 600 s; no answer"),
         ScanAnswer::TEV},
        {"needs upgrade", ended(FleetState::NEEDS_UPGRADE), ScanAnswer::TEV},
        {"current", ended(FleetState::CURRENT), ScanAnswer::TEV},
        {"other model", ended(FleetState::OTHER_MODEL, "TEV-610"), ScanAnswer::TEV},
    };
    std::vector<FleetRow> rows;
    for (const AnswerCase& c : cases) {
        EXPECT_EQ(scan_answer(c.row), c.answer) << c.what;
        rows.push_back(c.row);
    }
    ScanCounts counts = scan_counts(rows);
    EXPECT_EQ(counts.addresses, 11u);
    EXPECT_EQ(counts.asked, 9u);
    EXPECT_EQ(counts.found, 5u);
    EXPECT_EQ(counts.silent, 1u);
    EXPECT_EQ(counts.other, 3u);
    EXPECT_EQ(counts.not_asked, 1u);
    EXPECT_EQ(scan_head_line(counts, 65'000),
              "11 addresses: 9 asked, 5 TEVs found, 1 silent, 3 not TEVs, 1 not asked; 1:05 elapsed");
}

std::string text_of(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void status_and_result(FleetRun& run, std::size_t row, const char* product, const char* serial,
                       const char* result, int code) {
    run.child_output(row, std::string(R"({"event":"check","product_name":")") + product +
                              R"(","serial_number":")" + serial + R"j(","software_version":"3.1.8(a)"})j");
    run.child_output(row, std::string(R"({"event":"result","result":")") + result + R"("})");
    run.child_ended(row, true, code);
}

void failed(FleetRun& run, std::size_t row, const char* text) {
    run.child_output(row, std::string(R"({"event":"result","result":"failed","text":")") + text + "\"}");
    run.child_ended(row, true, 1);
}

// A scan's plan; files: the report's and the devices file's name without .csv and .txt.
FleetPlan scan_plan(FleetProgram program, const std::string& files,
                    const char* range = "10.0.0.1-10.0.0.5", const char* jobs = nullptr) {
    FleetOptions options;
    options.program = program;
    options.scan = range;
    options.jobs = jobs;
    std::string report = files + ".csv";
    std::string devices = files + ".txt";
    if (!files.empty()) {
        options.report = report.c_str();
        options.write_devices = devices.c_str();
    }
    FleetPlan plan;
    std::string problem;
    EXPECT_TRUE(fleet_plan_read(options, &plan, &problem)) << problem;
    return plan;
}

// Each address's end as its child gives it: "silent", "other", "refused", or a result word.
void end_row(FleetRun& run, std::size_t row, const std::string& end) {
    if (end == "silent") return failed(run, row, "Upgrade Failed: No Response From TEV");
    if (end == "other") return failed(run, row, NOT_A_TEV_TEXT);
    if (end == "refused") return failed(run, row, "Upgrade Failed: the device refused the password");
    int code = end == "needs-upgrade" ? CHILD_NEEDS_UPGRADE_STATUS : end == "other-model" ? 1 : 0;
    status_and_result(run, row, "TEV-4400", "S", end.c_str(), code);
}

// The exit status of a scan is --check's over the TEVs found: silence is no failure; an address
// left unasked by Ctrl-C ("ctrl-c": the run is interrupted there) is.
TEST(FleetScan, ExitStatusIsTheChecksOverTheTevsFound) {
    const struct {
        std::vector<std::string> ends;
        int status;
    } cases[] = {
        {{"silent", "other", "silent"}, 0},
        {{"silent", "current", "other"}, 0},
        {{"silent", "needs-upgrade", "other-model"}, 3},
        {{"other", "other-model", "silent"}, 1},
        {{"silent", "refused", "needs-upgrade"}, 1},
        {{"silent", "current", "ctrl-c"}, 1},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        FakeChildren children;
        // One at a time, so that the interrupt finds the next address not yet asked.
        FleetRun run(scan_plan(FleetProgram::CONSOLE, "", "10.0.0.1-10.0.0.3", "1"), {}, clock,
                     children);
        run.start(fleet_first_step(run.plan()));
        for (std::size_t row = 0; row < c.ends.size(); ++row) {
            end_row(run, row, c.ends[row]);
            if (row + 1 < c.ends.size() && c.ends[row + 1] == "ctrl-c") {
                run.interrupt("interrupted (Ctrl-C)");
                break;
            }
            run.poll();
        }
        while (run.running()) run.poll();
        EXPECT_EQ(run.exit_status(), c.status) << c.ends[1] << " " << c.ends[2];
    }
}

// Five addresses, two TEVs: the rows, the report and the devices file end with those two, each
// child asked once with the probe, and the status is the check's.
TEST(FleetScan, TheRunKeepsTheTevsFound) {
    std::string files = "/tmp/fleet-scan-" + std::to_string(getpid());
    FakeClock clock;
    FakeChildren children;
    FleetRun run(scan_plan(FleetProgram::CONSOLE, files), {}, clock, children);
    std::string problem;
    ASSERT_TRUE(run.open_report(&problem)) << problem;
    EXPECT_EQ(text_of(files + ".txt"), "# The TEVs found in 10.0.0.1-10.0.0.5\n");
    run.start(fleet_first_step(run.plan()));
    ASSERT_EQ(children.arguments.size(), 5u);
    for (const auto& arguments : children.arguments) {
        EXPECT_EQ(arguments.back(), SCAN_PROBE_ARGUMENT);
        EXPECT_EQ(arguments.end()[-2], "--check");
    }
    failed(run, 0, "Upgrade Failed: No Response From TEV");
    status_and_result(run, 1, "TEV-4400", "S 11", "needs-upgrade", CHILD_NEEDS_UPGRADE_STATUS);
    failed(run, 2, NOT_A_TEV_TEXT);
    status_and_result(run, 3, "TEV-610", "", "current", 0);
    failed(run, 4, "Upgrade Failed: No Response From TEV");
    EXPECT_TRUE(run.scanning());
    EXPECT_EQ(run.head_line(), "5 addresses: 5 asked, 2 TEVs found, 2 silent, 1 not a TEV; 0:00 elapsed");
    EXPECT_TRUE(run.poll());
    EXPECT_FALSE(run.scanning());
    ASSERT_EQ(run.rows().size(), 2u);
    EXPECT_EQ(run.rows()[0].address, "10.0.0.2");
    EXPECT_EQ(run.rows()[1].address, "10.0.0.4");
    EXPECT_EQ(run.plan().devices.size(), 2u);
    EXPECT_EQ(run.exit_status(), CHILD_NEEDS_UPGRADE_STATUS);
    EXPECT_EQ(text_of(files + ".txt"),
              "# The TEVs found in 10.0.0.1-10.0.0.5\n10.0.0.2  TEV-4400 S 11\n10.0.0.4  TEV-610\n");
    std::string report = text_of(files + ".csv");
    EXPECT_NE(report.find("\n10.0.0.2,"), std::string::npos) << report;
    EXPECT_NE(report.find("\n10.0.0.4,"), std::string::npos) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3) << report;

    // The devices file reads back as the devices of a run.
    std::vector<FleetDevice> listed;
    ASSERT_TRUE(add_fleet_devices_text(&listed, text_of(files + ".txt"), "found", &problem)) << problem;
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].label, "TEV-4400 S 11");
    std::remove((files + ".txt").c_str());
    std::remove((files + ".csv").c_str());
}

// A devices file that cannot be created ends the run before any child starts.
TEST(FleetScan, AnUnwritableDevicesFileStopsTheRunFirst) {
    FakeClock clock;
    FakeChildren children;
    FleetRun run(scan_plan(FleetProgram::CONSOLE, "/nonexistent/dir/found"), {}, clock, children);
    std::string problem;
    EXPECT_FALSE(run.open_report(&problem));
    EXPECT_EQ(problem, "can't write /nonexistent/dir/found.txt: No such file or directory");
}

// The list window: the scan first, then "Upgrade N" over the TEVs found, without the probe.
TEST(FleetScan, TheListWindowUpgradesTheTevsFound) {
    std::string files = "/tmp/fleet-scan-steps-" + std::to_string(getpid());
    FakeClock clock;
    FakeChildren children;
    FleetRun run(scan_plan(FleetProgram::WINDOWS, files), {}, clock, children);
    FleetSteps steps(run);
    steps.begin();
    ASSERT_EQ(children.arguments.size(), 5u);
    EXPECT_EQ(children.arguments.back().back(), SCAN_PROBE_ARGUMENT);
    for (std::size_t row : {0, 1, 2, 4}) failed(run, row, "Upgrade Failed: No Response From TEV");
    status_and_result(run, 3, "TEV-4400", "S 4", "needs-upgrade", CHILD_NEEDS_UPGRADE_STATUS);
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);
    ASSERT_TRUE(steps.may_upgrade());
    EXPECT_EQ(steps.rows_to_upgrade(false), (std::vector<std::size_t>{0}));
    steps.upgrade(false);
    ASSERT_EQ(children.arguments.size(), 6u);
    const std::vector<std::string>& upgrade = children.arguments.back();
    EXPECT_EQ(upgrade[1], "10.0.0.4");
    EXPECT_EQ(std::count(upgrade.begin(), upgrade.end(), SCAN_PROBE_ARGUMENT), 0);
    EXPECT_EQ(std::count(upgrade.begin(), upgrade.end(), "--check"), 0);
    failed(run, 0, "Upgrade Failed: No Response From TEV");
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);
    // A TEV that falls silent in its upgrade stays a row that failed.
    ASSERT_EQ(run.rows().size(), 1u);
    EXPECT_EQ(steps.rows_to_retry(), (std::vector<std::size_t>{0}));
    EXPECT_EQ(steps.exit_status(), 1);
    std::remove((files + ".txt").c_str());
    std::remove((files + ".csv").c_str());
}

CommandLine parse(std::vector<const char*> arguments) {
    return parse_command_line(static_cast<int>(arguments.size()), arguments.data(), OptionStyle::LINUX);
}

TEST(FleetScan, OptionsThatGoWithScan) {
    const struct {
        std::vector<const char*> arguments;
        const char* problem;  // empty: taken
    } cases[] = {
        {{"--scan", "10.0.0.0/24"}, ""},
        {{"--scan", "10.0.0.0/24", "--quiet", "--write-devices", "f.txt"}, ""},
        {{"--scan", "10.0.0.0/24", "--device", "10.0.0.1"},
         "--scan finds its devices: not with --device or --devices"},
        {{"--write-devices", "f.txt", "--device", "10.0.0.1", "--check"},
         "--write-devices writes the TEVs --scan finds: it needs --scan"},
        {{"--scan", "10.0.0.0/24", "--skip-current"},
         "--scan changes nothing: --skip-current is for an upgrade"},
        {{"--device", "10.0.0.1", "--check", "--scan-p"}, "unknown option '--scan-p'"},
    };
    for (const auto& c : cases) {
        CommandLine line = parse(c.arguments);
        SCOPED_TRACE(c.arguments[0]);
        EXPECT_EQ(std::string(line.problem), c.problem);
    }
    EXPECT_TRUE(parse({"--device", "10.0.0.1", "--check", SCAN_PROBE_ARGUMENT}).scan_probe);
    EXPECT_FALSE(parse({"--device", "10.0.0.1", "--check"}).scan_probe);
}

// A range too large is a usage error of the plan, named with the option.
TEST(FleetScan, ARangeTooLargeIsAUsageError) {
    FleetOptions options;
    options.scan = "10.0.0.0/19";
    FleetPlan plan;
    std::string problem;
    EXPECT_FALSE(fleet_plan_read(options, &plan, &problem));
    EXPECT_EQ(problem, "--scan 10.0.0.0/19: a prefix from /20 to /32 (at most 4096 addresses)");
    options.program = FleetProgram::WINDOWS;
    EXPECT_FALSE(fleet_plan_read(options, &plan, &problem));
    EXPECT_EQ(problem.substr(0, 6), "/scan ");
}

}  // namespace
