// A scan over fake children: what each address's end counts as, the run that keeps only the TEVs
// found (its report, its devices file, its exit status), the list window's upgrade after it, and
// the options that go with --scan.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/command_line.h"
#include "app/status_answer.h"
#include "fleet/fleet_steps.h"

namespace {

struct FakeClock final : FleetClock {
    std::int64_t now_ms() override { return 1000; }
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

std::string text_of(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// A scan's plan; files: the report's and the devices file's name without .csv and .txt.
FleetPlan scan_plan(FleetProgram program, const std::string& files, const char* jobs = nullptr,
                    const char* retries = nullptr) {
    FleetOptions options;
    options.program = program;
    options.scan = "10.0.0.1-10.0.0.5";
    options.jobs = jobs;
    options.retries = retries;
    std::string report = files + ".csv", devices = files + ".txt";
    if (!files.empty()) {
        options.report = report.c_str();
        options.write_devices = devices.c_str();
    }
    FleetPlan plan;
    std::string problem;
    EXPECT_TRUE(fleet_plan_read(options, &plan, &problem)) << problem;
    return plan;
}

// A row's end as its child gives it: "silent", "other" (a web page), "refused", "error" (an
// error status), or a result word, read from a TEV-4400 with serial "S 1".
void end_row(FleetRun& run, std::size_t row, const std::string& end) {
    const char* failure = end == "silent"    ? "Upgrade Failed: No Response From TEV"
                          : end == "other"   ? NOT_A_TEV_TEXT
                          : end == "error"   ? "Upgrade Failed: The TEV Answered 404 Not Found"
                          : end == "refused" ? "Upgrade Failed: the device refused the password"
                                             : nullptr;
    if (failure != nullptr) {
        run.child_output(row, std::string(R"({"event":"result","result":"failed","text":")") + failure + "\"}");
        return run.child_ended(row, true, 1);
    }
    run.child_output(row, R"({"event":"check","product_name":"TEV-4400","serial_number":"S 1"})");
    run.child_output(row, R"({"event":"result","result":")" + end + "\"}");
    run.child_ended(row, true, end == "needs-upgrade" ? 3 : end == "other-model" ? 1 : 0);
}

// Five addresses, one at a time; "ctrl-c" interrupts the scan before that address is asked.
// The exit status is --check's over the TEVs found: silence and non-TEVs are no failure.
TEST(FleetScan, CountsAndExitStatus) {
    const struct {
        std::vector<std::string> ends;
        const char* head;
        int status;
    } cases[] = {
        {{"silent", "other", "error", "silent", "silent"}, "5 asked, 0 TEVs found, 3 silent, 2 not TEVs", 0},
        {{"silent", "current", "other", "silent", "silent"}, "5 asked, 1 TEV found, 3 silent, 1 not a TEV", 0},
        {{"needs-upgrade", "other-model", "silent", "silent", "other"}, "5 asked, 2 TEVs found, 2 silent, 1 not a TEV", 3},
        {{"other-model", "silent", "silent", "silent", "silent"}, "5 asked, 1 TEV found, 4 silent, 0 not TEVs", 1},
        {{"refused", "needs-upgrade", "silent", "silent", "silent"}, "5 asked, 2 TEVs found, 3 silent, 0 not TEVs", 1},
        {{"current", "silent", "ctrl-c"}, "2 asked, 1 TEV found, 1 silent, 0 not TEVs, 3 not asked", 1},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        FakeChildren children;
        // --retries: a scan asks each address once all the same.
        FleetRun run(scan_plan(FleetProgram::CONSOLE, "", "1", "2"), {}, clock, children);
        run.start(fleet_first_step(run.plan()));
        for (std::size_t row = 0; row < c.ends.size() && c.ends[row] != "ctrl-c"; ++row) {
            end_row(run, row, c.ends[row]);
            if (row + 1 < c.ends.size() && c.ends[row + 1] == "ctrl-c") run.interrupt("interrupted");
            run.poll();
        }
        while (run.running()) run.poll();
        SCOPED_TRACE(c.head);
        EXPECT_EQ(run.head_line(), std::string("5 addresses: ") + c.head + "; 0:00 elapsed");
        EXPECT_EQ(run.exit_status(), c.status);
    }
}

// The rows, the report and the devices file end with the TEVs found, each child asked with the
// probe; the devices file reads back as a run's devices.
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
    EXPECT_EQ(children.arguments.back().back(), SCAN_PROBE_ARGUMENT);
    for (std::size_t row : {0, 2, 4}) end_row(run, row, "silent");
    end_row(run, 1, "needs-upgrade");
    end_row(run, 3, "current");
    std::string found = "# The TEVs found in 10.0.0.1-10.0.0.5\n10.0.0.2  TEV-4400 S 1\n10.0.0.4  TEV-4400 S 1\n";
    EXPECT_EQ(text_of(files + ".txt"), found);  // written as each TEV is found
    EXPECT_TRUE(run.poll());
    ASSERT_EQ(run.rows().size(), 2u);
    EXPECT_EQ(run.rows()[1].address, "10.0.0.4");
    std::string report = text_of(files + ".csv");
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3) << report;
    std::vector<FleetDevice> listed;
    ASSERT_TRUE(add_fleet_devices_text(&listed, found, "found", &problem)) << problem;
    EXPECT_EQ(listed[1].label, "TEV-4400 S 1");
    std::remove((files + ".txt").c_str());
    std::remove((files + ".csv").c_str());
    // A devices file that cannot be created ends the run before any child starts.
    FleetRun unwritable(scan_plan(FleetProgram::CONSOLE, "/nonexistent/found"), {}, clock, children);
    EXPECT_FALSE(unwritable.open_report(&problem));
    EXPECT_EQ(problem, "can't write /nonexistent/found.txt: No such file or directory");
}

// The list window: the scan first, then "Upgrade N" over the TEVs found, without the probe.
TEST(FleetScan, TheListWindowUpgradesTheTevsFound) {
    FakeClock clock;
    FakeChildren children;
    FleetRun run(scan_plan(FleetProgram::WINDOWS, ""), {}, clock, children);
    FleetSteps steps(run);
    steps.begin();
    EXPECT_EQ(children.arguments.back().back(), SCAN_PROBE_ARGUMENT);
    for (std::size_t row : {0, 1, 2, 4}) end_row(run, row, "silent");
    end_row(run, 3, "needs-upgrade");
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);
    ASSERT_TRUE(steps.may_upgrade());
    steps.upgrade(false);
    ASSERT_EQ(children.arguments.size(), 6u);
    const std::vector<std::string>& upgrade = children.arguments.back();
    EXPECT_EQ(upgrade[1], "10.0.0.4");
    EXPECT_EQ(std::count(upgrade.begin(), upgrade.end(), SCAN_PROBE_ARGUMENT), 0);
    // A TEV that falls silent in its upgrade stays a row that failed.
    end_row(run, 0, "silent");
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);
    EXPECT_EQ(steps.rows_to_retry(), (std::vector<std::size_t>{0}));
    EXPECT_EQ(steps.exit_status(), 1);
}

TEST(FleetScan, OptionsThatGoWithScan) {
    const struct {
        std::vector<const char*> arguments;
        const char* problem;  // empty: taken
    } cases[] = {
        {{"--scan", "10.0.0.0/24", "--quiet", "--write-devices", "f.txt"}, ""},
        {{"--scan", "10.0.0.0/24", "--device", "10.0.0.1"}, "--scan finds its devices: not with --device or --devices"},
        {{"--write-devices", "f.txt", "--device", "10.0.0.1", "--check"}, "--write-devices writes the TEVs --scan finds: it needs --scan"},
        {{"--scan", "10.0.0.0/24", "--skip-current"}, "--scan changes nothing: --skip-current is for an upgrade"},
        {{"--device", "10.0.0.1", "--check", "--scan-p"}, "unknown option '--scan-p'"},
    };
    for (const auto& c : cases) {
        CommandLine line = parse_command_line(static_cast<int>(c.arguments.size()), c.arguments.data(),
                                              OptionStyle::LINUX);
        EXPECT_EQ(std::string(line.problem), c.problem);
    }
    const char* probe[] = {"--device", "10.0.0.1", "--check", SCAN_PROBE_ARGUMENT};
    EXPECT_TRUE(parse_command_line(4, probe, OptionStyle::LINUX).scan_probe);
    // A range too large is a usage error of the plan, named as the program spells the option.
    FleetOptions options;
    options.scan = "10.0.0.0/19";
    FleetPlan plan;
    std::string problem;
    EXPECT_FALSE(fleet_plan_read(options, &plan, &problem));
    EXPECT_EQ(problem, "--scan 10.0.0.0/19: a prefix from /20 to /32 (at most 4096 addresses)");
}

}  // namespace
