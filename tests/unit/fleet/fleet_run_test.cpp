// The fleet's run and the list window's steps over it, driven with fake children and a fake
// clock: what each step starts, what the rows keep across the steps, the report's promise, the
// head line's clock and the one exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/fleet_steps.h"

namespace {

struct FakeClock final : FleetClock {
    std::int64_t now = 1000;
    std::int64_t now_ms() override { return now; }
};

struct FakeChildren final : FleetChildren {
    std::string calls;  // "start0 start1 cancel1 ..."
    std::vector<std::vector<std::string>> arguments;
    std::vector<std::vector<std::string>> environments;

    bool start(std::size_t row, const std::vector<std::string>& args,
               const std::vector<std::string>& environment, std::string*) override {
        note("start", row);
        arguments.push_back(args);
        environments.push_back(environment);
        return true;
    }
    void cancel(std::size_t row) override { note("cancel", row); }
    void kill(std::size_t row) override { note("kill", row); }
    void note(const char* what, std::size_t row) {
        calls += (calls.empty() ? "" : " ") + std::string(what) + std::to_string(row);
    }
    bool last_has(const std::string& argument) const {
        const auto& last = arguments.back();
        return std::find(last.begin(), last.end(), argument) != last.end();
    }
};

FleetPlan plan_of(int devices) {
    FleetPlan plan;
    plan.program = FleetProgram::WINDOWS;
    for (int i = 0; i < devices; ++i) plan.devices.push_back({"10.0.0." + std::to_string(i + 1), ""});
    return plan;
}

// The child of a row reads the status page and ends with a result and its exit status.
void answer(FleetRun& run, std::size_t row, const char* version, const char* result,
            const char* text = "", int code = 0) {
    run.child_output(row, std::string(R"({"event":"status","product_name":"TEV-4400",)") +
                              R"("software_version":")" + version + R"("})");
    run.child_output(row, std::string(R"({"event":"result","result":")") + result +
                              R"(","text":")" + text + R"(","version_after":")" +
                              (std::string(result) == "verified" ? "3.2.9(b)" : "") + R"("})");
    run.child_ended(row, true, code);
}

std::string text_of(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

constexpr const char* WANTS = "Upgrade Failed: the device wants a password; give it with "
                              "/passwordfile FILE or TEV_PASSWORD";
constexpr const char* REFUSED = "Upgrade Failed: the device refused the password";

// Check, the password asked once, Upgrade, Run Failed Again with the password asked again, Stop
// during a flash, the report saved: the rows keep what each step did.
TEST(FleetSteps, CheckUpgradeRetryStopAndSave) {
    FakeClock clock;
    FakeChildren children;
    FleetRun run(plan_of(3), {"HOME=/root"}, clock, children);
    FleetSteps steps(run);
    EXPECT_EQ(steps.begin(), FleetNext::WAIT);
    EXPECT_EQ(children.calls, "start0 start1 start2");
    EXPECT_TRUE(children.last_has("--check"));
    answer(run, 0, "3.1.8(a)", "needs-upgrade", "", 3);
    answer(run, 1, "3.2.9(b)", "current");
    run.child_output(2, std::string(R"({"event":"result","result":"failed","text":")") + WANTS + "\"}");
    run.child_ended(2, true, 1);
    EXPECT_EQ(steps.poll(), FleetNext::ASK_PASSWORD);
    EXPECT_EQ(steps.password_given("admin", "pw one"), FleetNext::WAIT);
    EXPECT_EQ(children.calls, "start0 start1 start2 start2");
    EXPECT_TRUE(children.last_has("--user") && children.last_has("--check"));
    EXPECT_EQ(children.environments.back().back(), "TEV_HIDDEN=1");
    EXPECT_EQ(children.environments.back()[1], "TEV_PASSWORD=pw one");
    answer(run, 2, "3.1.8(a)", "needs-upgrade", "", 3);
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);
    EXPECT_EQ(steps.exit_status(), 3);
    ASSERT_TRUE(steps.may_upgrade());
    EXPECT_EQ(steps.rows_to_upgrade(false), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(steps.rows_to_upgrade(true), (std::vector<std::size_t>{0, 1, 2}));

    steps.upgrade(false);
    EXPECT_FALSE(steps.may_upgrade());
    EXPECT_TRUE(children.last_has("--skip-current") && !children.last_has("--check"));
    answer(run, 0, "3.1.8(a)", "verified");
    // A device running again keeps its last end in the report until it ends anew.
    std::string path = "/tmp/fleet-steps-" + std::to_string(getpid()) + ".csv";
    std::string problem;
    ASSERT_TRUE(run.save_report(path, FleetReportFormat::CSV, &problem)) << problem;
    EXPECT_NE(text_of(path).find("10.0.0.3,,TEV-4400,,,,3.1.8(a),,needs-upgrade"), std::string::npos)
        << text_of(path);
    answer(run, 2, "", "failed", REFUSED, 1);
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);
    ASSERT_TRUE(steps.may_retry());
    EXPECT_EQ(steps.rows_to_retry(), (std::vector<std::size_t>{2}));
    EXPECT_TRUE(steps.retry_wants_password());

    // The same password is not sent again: it is asked for first.
    EXPECT_EQ(steps.retry(), FleetNext::ASK_PASSWORD);
    EXPECT_EQ(steps.password_given("admin", "pw two"), FleetNext::WAIT);
    EXPECT_EQ(children.calls, "start0 start1 start2 start2 start0 start2 start2");
    EXPECT_EQ(children.environments.back()[1], "TEV_PASSWORD=pw two");
    EXPECT_EQ(steps.flashing(), 0);
    run.child_output(2, R"({"event":"uploaded"})");
    EXPECT_EQ(steps.flashing(), 1);
    steps.stop();
    EXPECT_EQ(children.calls.substr(children.calls.rfind(' ') + 1), "cancel2");
    answer(run, 2, "3.1.8(a)", "failed", "Upgrade Failed: User Abort", 1);
    EXPECT_EQ(steps.poll(), FleetNext::CHOOSE);

    const std::vector<FleetRow>& rows = run.rows();
    EXPECT_EQ(rows[0].state, FleetState::VERIFIED);  // kept from the upgrade step
    EXPECT_EQ(rows[0].before, "3.1.8(a)");
    EXPECT_EQ(rows[1].state, FleetState::CURRENT);
    EXPECT_EQ(rows[2].reason, INTERRUPTED_FLASHING_TEXT);
    EXPECT_EQ(steps.exit_status(), 1);
    ASSERT_TRUE(run.save_report(path, FleetReportFormat::CSV, &problem)) << problem;
    std::string saved = text_of(path);
    std::remove(path.c_str());
    EXPECT_NE(saved.find("10.0.0.1,,TEV-4400,,,,3.1.8(a),3.2.9(b),verified"), std::string::npos)
        << saved;
    EXPECT_EQ(steps.close(), FleetNext::CLOSE);
}

// With --yes every step follows by itself; a check alone stops after reading; Close while a step
// runs stops it and ends once it has.
TEST(FleetSteps, UnattendedStepsAndCloseWhileRunning) {
    struct Case {
        bool yes, check, skip_current;
        const char* calls;  // after the check's answers
        FleetNext next;
    } cases[] = {
        {true, false, false, "start0 start1 start0 start1", FleetNext::WAIT},
        {true, false, true, "start0 start1 start0", FleetNext::WAIT},
        {true, true, false, "start0 start1", FleetNext::CLOSE},
        {false, false, false, "start0 start1", FleetNext::CHOOSE},
    };
    for (const Case& c : cases) {
        FakeClock clock;
        FakeChildren children;
        FleetPlan plan = plan_of(2);
        plan.yes = c.yes;
        plan.check = c.check;
        plan.skip_current = c.skip_current;
        plan.has_password = true;
        FleetRun run(plan, {}, clock, children);
        FleetSteps steps(run);
        steps.begin();
        answer(run, 0, "3.1.8(a)", "needs-upgrade", "", 3);
        answer(run, 1, "3.2.9(b)", "current");
        EXPECT_EQ(steps.poll(), c.next);
        EXPECT_EQ(children.calls, c.calls);
        if (c.next == FleetNext::CLOSE) continue;
        if (c.next == FleetNext::CHOOSE) steps.upgrade(false);
        EXPECT_EQ(steps.close(), FleetNext::WAIT);
        EXPECT_NE(children.calls.find("cancel0"), std::string::npos);
        answer(run, 0, "3.1.8(a)", "failed", "Upgrade Failed: User Abort", 1);
        if (c.yes && !c.skip_current) answer(run, 1, "3.2.9(b)", "verified");
        EXPECT_EQ(steps.poll(), FleetNext::CLOSE);
    }
}

// A report that cannot be written before the run stops it; one that cannot be rewritten during it
// is told, and the run's status is 1 though every device was verified.
TEST(FleetRun, TheReportIsAPromise) {
    FakeClock clock;
    FakeChildren children;
    FleetPlan plan = plan_of(2);
    plan.report = "/nonexistent-folder/site.csv";
    FleetRun lost(plan, {}, clock, children);
    std::string problem;
    EXPECT_FALSE(lost.open_report(&problem));
    EXPECT_EQ(problem, "can't write /nonexistent-folder/site.csv: No such file or directory");

    char folder[] = "/tmp/fleet-report-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    plan.report = std::string(folder) + "/site.csv";
    FleetRun run(plan, {}, clock, children);
    ASSERT_TRUE(run.open_report(&problem)) << problem;
    run.start(fleet_first_step(run.plan()));
    answer(run, 0, "3.1.8(a)", "verified");
    run.poll();
    EXPECT_TRUE(run.report_problem().empty());
    ASSERT_EQ(rmdir(folder), -1);  // the report is in it
    std::remove(plan.report.c_str());
    ASSERT_EQ(rmdir(folder), 0);
    answer(run, 1, "3.1.8(a)", "verified");
    EXPECT_TRUE(run.poll());
    EXPECT_EQ(fleet_exit_status(run.rows()), 0);
    EXPECT_EQ(run.exit_status(), 1);
    EXPECT_NE(run.head_line().find("; the report was not written: can't write "), std::string::npos)
        << run.head_line();
}

// The head line's clock runs while the step does and stands still at its end; the time left is
// never below a flashing device's own, and none is told for a device past the others' mean.
TEST(FleetRun, TheHeadLineTellsTheTime) {
    FakeClock clock;
    FakeChildren children;
    FleetPlan plan = plan_of(2);
    FleetRun run(plan, {}, clock, children);
    run.start(fleet_first_step(run.plan()));
    clock.now += 4000;
    answer(run, 0, "3.2.9(b)", "current");
    run.child_output(1, R"({"event":"flash-wait","seconds_left":26})");
    run.poll();
    clock.now += 1000;
    EXPECT_NE(run.head_line().find("0:05 elapsed, about 26 s left"), std::string::npos)
        << run.head_line();
    run.child_output(1, R"({"event":"verify","attempt":1})");
    EXPECT_EQ(run.head_line().find(" left"), std::string::npos) << run.head_line();
    answer(run, 1, "3.1.8(a)", "verified");
    EXPECT_TRUE(run.poll());
    clock.now += 600'000;
    EXPECT_NE(run.head_line().find("; 0:05 elapsed"), std::string::npos) << run.head_line();
}

}  // namespace
