// The fleet's scheduler driven by a fake clock and fake children: each case a short script of what
// the children do, and what the scheduler asked of them, the rows' ends and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/fleet_scheduler.h"

namespace {

struct FakeClock final : FleetClock {
    std::int64_t now = 5000;
    std::int64_t now_ms() override { return now; }
};

struct FakeChildren final : FleetChildren {
    std::string calls;  // "start0 cancel1 kill1 ..."
    std::vector<std::vector<std::string>> arguments;
    std::size_t refuse = 999;  // the row whose start fails

    bool start(std::size_t row, const std::vector<std::string>& args,
               const std::vector<std::string>&, std::string* problem) override {
        note("start", row);
        arguments.push_back(args);
        if (row == refuse) *problem = "Resource temporarily unavailable";
        return row != refuse;
    }
    void cancel(std::size_t row) override { note("cancel", row); }
    void kill(std::size_t row) override { note("kill", row); }
    void note(const char* what, std::size_t row) {
        calls += (calls.empty() ? "" : " ") + std::string(what) + std::to_string(row);
    }
};

FleetPlan plan_of(int devices) {
    FleetPlan plan;
    for (int i = 0; i < devices; ++i) plan.devices.push_back({"10.0.0." + std::to_string(i + 1), ""});
    plan.deadline_ms = 600'000;
    plan.grace_ms = 15'000;
    return plan;
}

std::string result_line(const std::string& word,
                        const std::string& text = "Upgrade Failed: the device refused the password") {
    return R"({"event":"result","result":")" + word + R"(","text":")" + text + R"("})";
}

void fail_with(FleetScheduler& scheduler, std::size_t row, const std::string& text) {
    scheduler.child_output(row, result_line("failed", text));
    scheduler.child_ended(row, true, 1);
}

// Runs a script, a step after each word:
//   r2:verified  row 2's result event      e2:3  row 2's child exits with status 3
//   v2 / c2 / f2  result verified / current / failed, then the matching exit
//   x2  row 2's child killed by SIGKILL     s2  row 2's child ended by SIGINT
//   n2 / u2  failed: no answer / upload incomplete, exit 1 (failures a retry may mend)
//   t15  15 s pass     i  Ctrl-C
void play(FleetScheduler& scheduler, FakeClock& clock, const std::string& script) {
    std::istringstream words(script);
    std::string word;
    scheduler.step();
    while (words >> word) {
        std::size_t row = word.size() > 1 ? std::stoul(word.substr(1)) : 0;
        std::string value = word.find(':') != std::string::npos ? word.substr(word.find(':') + 1) : "";
        switch (word[0]) {
            case 'r': scheduler.child_output(row, result_line(value)); break;
            case 'e': scheduler.child_ended(row, true, std::stoi(value)); break;
            case 'v':
            case 'c':
            case 'f':
                scheduler.child_output(row, result_line(word[0] == 'v'   ? "verified"
                                                        : word[0] == 'c' ? "current"
                                                                         : "failed"));
                scheduler.child_ended(row, true, word[0] == 'f' ? 1 : 0);
                break;
            case 'n': fail_with(scheduler, row, "Upgrade Failed: No Response From TEV"); break;
            case 'u': fail_with(scheduler, row, "Upgrade Failed: Firmware Upload Incomplete"); break;
            case 'x': scheduler.child_ended(row, false, SIGKILL); break;
            case 's': scheduler.child_ended(row, false, SIGINT); break;
            case 't': clock.now += std::stol(word.substr(1)) * 1000; break;
            case 'i': scheduler.interrupt(); break;
            default: ADD_FAILURE() << "unknown word " << word;
        }
        scheduler.step();
    }
}

// One letter a row: q queued, R running, W waiting for a retry, V verified, C current, N needs
// upgrade, O other model, F failed, - not started.
std::string states(const FleetScheduler& scheduler) {
    std::string letters;
    for (const FleetRow& row : scheduler.rows()) {
        switch (row.state) {
            case FleetState::QUEUED: letters += 'q'; break;
            case FleetState::VERIFIED: letters += 'V'; break;
            case FleetState::CURRENT: letters += 'C'; break;
            case FleetState::NEEDS_UPGRADE: letters += 'N'; break;
            case FleetState::OTHER_MODEL: letters += 'O'; break;
            case FleetState::FAILED: letters += 'F'; break;
            case FleetState::NOT_STARTED: letters += '-'; break;
            case FleetState::RETRY_WAIT: letters += 'W'; break;
            default: letters += 'R'; break;
        }
    }
    return letters;
}

struct Case {
    const char* what;
    int devices, jobs, canary, max_failures;
    const char* script;
    const char* calls;
    const char* states;
    bool finished;
    int status;
    const char* stopped_early;
};

TEST(FleetScheduler, RunsTheScriptedCases) {
    const Case cases[] = {
        {"at most --jobs children at once", 4, 2, 0, 0, "", "start0 start1", "RRqq", false, 1, ""},
        {"a slot frees at the child's end, not at its result", 3, 1, 0, 0, "r0:verified",
         "start0", "Vqq", false, 1, ""},
        {"the next starts once the child has ended", 3, 1, 0, 0, "r0:verified e0:0",
         "start0 start1", "VRq", false, 1, ""},
        {"every device verified or current: status 0", 3, 2, 0, 0, "v0 c1 v2",
         "start0 start1 start2", "VCV", true, 0, ""},
        {"one failure: status 1, the others go on", 3, 3, 0, 0, "f1 v0 v2",
         "start0 start1 start2", "VFV", true, 1, ""},
        {"the deadline cancels, the grace period kills", 2, 2, 0, 0, "t599 t1 t14 t1 x0 v1",
         "start0 start1 cancel0 cancel1 kill0 kill1", "FV", true, 1, ""},
        {"a device of the second wave has its whole deadline", 2, 1, 0, 0, "t500 v0 t500",
         "start0 start1", "VR", false, 1, ""},
        {"the canary first; the rest after it ends well", 4, 4, 1, 0, "r0:verified",
         "start0", "Vqqq", false, 1, ""},
        {"the canary passed", 4, 4, 1, 0, "r0:verified e0:0", "start0 start1 start2 start3",
         "VRRR", false, 1, ""},
        {"a current canary passes too", 3, 2, 1, 0, "c0", "start0 start1 start2", "CRR", false, 1, ""},
        {"a failed canary stops the run; the other canary finishes", 4, 4, 2, 0, "f0 v1",
         "start0 start1", "FV--", true, 1, "the canary 10.0.0.1 failed (--canary 2)"},
        {"a canary killed stops the run", 3, 4, 1, 0, "x0", "start0", "F--", true, 1,
         "the canary 10.0.0.1 failed (--canary 1)"},
        // Sent nothing, it has not shown the image to be good.
        {"a canary of another model stops the run", 3, 4, 1, 0, "r0:other-model e0:1", "start0",
         "O--", true, 1, "the canary 10.0.0.1 is of another model (--canary 1)"},
        {"a device of another model is no failure of the budget, but not done", 3, 1, 0, 1,
         "r0:other-model e0:1 v1 v2", "start0 start1 start2", "OVV", true, 1, ""},
        {"the failure budget: those running finish, no other starts", 5, 2, 0, 2, "f0 f1 v2",
         "start0 start1 start2", "FFV--", true, 1, "2 devices failed (--max-failures 2)"},
        {"the budget not reached", 3, 1, 0, 2, "f0 v1 v2", "start0 start1 start2", "FVV", true, 1,
         ""},
        {"Ctrl-C cancels every child and starts no other", 3, 2, 0, 0, "i",
         "start0 start1 cancel0 cancel1", "RR-", false, 1, "interrupted (Ctrl-C)"},
        {"a second Ctrl-C kills them", 3, 2, 0, 0, "i i x0 x1",
         "start0 start1 cancel0 cancel1 kill0 kill1", "FF-", true, 1, "interrupted (Ctrl-C)"},
        {"devices Ctrl-C kept from starting: status 1 though none failed", 3, 2, 0, 0, "i v0 v1",
         "start0 start1 cancel0 cancel1", "VV-", true, 1, "interrupted (Ctrl-C)"},
        {"Ctrl-C after the last start stops nothing early", 2, 2, 0, 0, "i f0 f1",
         "start0 start1 cancel0 cancel1", "FF", true, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FleetPlan plan = plan_of(c.devices);
        plan.jobs = c.jobs;
        plan.canary = c.canary;
        plan.max_failures = c.max_failures;
        FakeClock clock;
        FakeChildren children;
        FleetScheduler scheduler(plan, fleet_first_step(plan), {}, clock, children, nullptr);
        play(scheduler, clock, c.script);
        EXPECT_EQ(children.calls, c.calls);
        EXPECT_EQ(states(scheduler), c.states);
        EXPECT_EQ(scheduler.finished(), c.finished);
        if (c.finished) {
            EXPECT_EQ(fleet_exit_status(scheduler.rows()), c.status);
        }
        EXPECT_EQ(scheduler.stopped_early(), c.stopped_early);
    }
}

TEST(FleetScheduler, ACheckEndsThreeOnlyWhenEveryDeviceAnswered) {
    struct CheckCase {
        const char* script;
        const char* states;
        int status;
    } cases[] = {
        {"r0:current e0:0 r1:current e1:0", "CC", 0},
        {"r0:current e0:0 r1:needs-upgrade e1:3", "CN", 3},
        {"r0:needs-upgrade e0:3 f1", "NF", 1},
        // A needs-upgrade result with another exit status is no answer to trust.
        {"r0:needs-upgrade e0:0 r1:current e1:0", "FC", 1},
        // A device of another model: 3 still tells of work for the run, else 1 (not done).
        {"r0:other-model e0:1 r1:needs-upgrade e1:3", "ON", 3},
        {"r0:other-model e0:1 r1:current e1:0", "OC", 1},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.script);
        FleetPlan plan = plan_of(2);
        plan.check = true;
        FakeClock clock;
        FakeChildren children;
        FleetScheduler scheduler(plan, fleet_first_step(plan), {}, clock, children, nullptr);
        play(scheduler, clock, c.script);
        EXPECT_EQ(states(scheduler), c.states);
        EXPECT_EQ(fleet_exit_status(scheduler.rows()), c.status);
    }
}

TEST(FleetScheduler, RowsKeepTheRunsReasonsAndTimes) {
    FleetPlan plan = plan_of(3);
    plan.jobs = 3;
    plan.deadline_ms = 10'000;
    plan.grace_ms = 2'000;
    FakeClock clock;
    FakeChildren children;
    children.refuse = 2;
    FleetScheduler scheduler(plan, fleet_first_step(plan), {}, clock, children, nullptr);
    play(scheduler, clock, "t4");
    scheduler.child_error(1, "AddressSanitizer: SEGV on unknown address");
    scheduler.child_error(1, "");
    scheduler.child_ended(1, false, SIGSEGV);
    play(scheduler, clock, "t6 t2 x0");
    const auto& rows = scheduler.rows();
    EXPECT_EQ(rows[0].reason, "passed its deadline of 10 s; killed by signal 9");
    EXPECT_EQ(rows[0].ended_ms - rows[0].started_ms, 12'000);
    EXPECT_EQ(rows[1].reason, "crashed: signal 11: AddressSanitizer: SEGV on unknown address");
    EXPECT_EQ(rows[2].reason, "can't start its process: Resource temporarily unavailable");
    EXPECT_TRUE(scheduler.finished());
}

// Ctrl-C passed on to a child that had not yet taken the signal over ends it by the signal: a
// cancel all the same; a child the run did not ask to stop crashed.
TEST(FleetScheduler, AChildTheInterruptEndedIsCancelledNotCrashed) {
    FleetPlan plan = plan_of(3);
    plan.jobs = 3;
    FakeClock clock;
    FakeChildren children;
    FleetScheduler scheduler(plan, fleet_first_step(plan), {}, clock, children, nullptr);
    play(scheduler, clock, "s2");
    scheduler.child_output(1, R"({"event":"uploaded"})");
    play(scheduler, clock, "i s0 s1");
    const auto& rows = scheduler.rows();
    EXPECT_EQ(fleet_state_text(rows[0]), "failed: cancelled");
    EXPECT_EQ(rows[1].reason, INTERRUPTED_FLASHING_TEXT);
    EXPECT_EQ(rows[2].reason, "crashed: signal 2");
}

// A step runs only its rows; the others start no child and stay as they are.
TEST(FleetScheduler, AStepRunsItsRowsAlone) {
    FleetPlan plan = plan_of(4);
    plan.jobs = 1;
    FleetStep step;
    step.rows = {3, 1};
    FakeClock clock;
    FakeChildren children;
    FleetScheduler scheduler(plan, step, {}, clock, children, nullptr);
    play(scheduler, clock, "v3 f1");
    EXPECT_EQ(children.calls, "start3 start1");
    EXPECT_EQ(states(scheduler), "qFqV");
    EXPECT_TRUE(scheduler.finished());
}

}  // namespace

namespace {

// --retry-wait 30; the deadline in seconds.
struct RetryCase {
    const char* what;
    int devices, jobs, canary, max_failures, retries, deadline_s;
    const char* script;
    const char* calls;
    const char* states;
};

TEST(FleetScheduler, RetriesRunTheScriptedCases) {
    const RetryCase cases[] = {
        {"no answer waits for its retry", 1, 1, 0, 0, 2, 600, "n0 t29", "start0", "W"},
        {"verified on its second attempt", 1, 1, 0, 0, 2, 600, "n0 t30 v0", "start0 start0", "V"},
        {"an upload that stopped: retried", 1, 1, 0, 0, 2, 600, "u0 t30", "start0 start0", "R"},
        {"the second wait doubles", 1, 1, 0, 0, 2, 600, "n0 t30 n0 t59", "start0 start0", "W"},
        {"at most 1 + --retries", 1, 1, 0, 0, 2, 600, "n0 t30 n0 t60 n0 t999",
         "start0 start0 start0", "F"},
        {"the deadline's cancel: final", 1, 1, 0, 0, 2, 10, "t10 n0 t30", "start0 cancel0", "F"},
        {"a wait past the deadline is not made", 1, 1, 0, 0, 2, 60, "t20 n0 t30 n0", "start0 start0", "F"},
        {"a retry keeps the first start's deadline", 1, 1, 0, 0, 2, 100, "n0 t30 t70",
         "start0 start0 cancel0", "R"},
        {"Ctrl-C ends the wait", 2, 1, 0, 0, 2, 600, "n0 i t5", "start0 start1 cancel1", "FR"},
        {"a due retry waits for a job, then goes first", 3, 1, 0, 0, 2, 600, "n0 t30 v1",
         "start0 start1 start0", "RVq"},
        {"the rest wait for the canary's retry", 3, 3, 1, 0, 2, 600, "n0 t30 v0",
         "start0 start0 start1 start2", "VRR"},
        {"the budget counts a device failed for good", 3, 1, 0, 1, 1, 600, "n0 t30 v1 n0",
         "start0 start1 start0", "FV-"},
        {"the budget reached ends another's wait", 2, 2, 0, 1, 1, 600, "n0 f1", "start0 start1", "FF"},
    };
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.what);
        FleetPlan plan = plan_of(c.devices);
        plan.jobs = c.jobs;
        plan.canary = c.canary;
        plan.max_failures = c.max_failures;
        plan.retries = c.retries;
        plan.retry_wait_ms = 30'000;
        plan.deadline_ms = c.deadline_s * 1000;
        FakeClock clock;
        FakeChildren children;
        FleetScheduler scheduler(plan, fleet_first_step(plan), {}, clock, children, nullptr);
        play(scheduler, clock, c.script);
        EXPECT_EQ(children.calls, c.calls);
        EXPECT_EQ(states(scheduler), c.states);
    }
}

// The waiting row counts down and counts its children, each with a log of its own; it ends with
// its last failure, its time from the first start.
TEST(FleetScheduler, ARetryCountsDownAndCountsItsAttempts) {
    FleetPlan plan = plan_of(1);
    plan.retries = 2;
    plan.log_dir = "logs";
    FakeClock clock;
    FakeChildren children;
    FleetScheduler scheduler(plan, fleet_first_step(plan), {}, clock, children, nullptr);
    const FleetRow& row = scheduler.rows()[0];
    play(scheduler, clock, "n0 t2");
    EXPECT_EQ(fleet_state_text(row), "retry 2 of 3 in 28 s");
    EXPECT_EQ(row.ended_ms, -1);  // not in the report while it waits
    play(scheduler, clock, "t28 n0 t1");
    EXPECT_EQ(fleet_state_text(row), "retry 3 of 3 in 59 s");
    play(scheduler, clock, "t59 n0");
    EXPECT_EQ(row.attempts, 3);
    EXPECT_EQ(fleet_state_text(row), "failed: no answer");
    EXPECT_EQ(row.ended_ms - row.started_ms, 90'000);
    ASSERT_EQ(children.arguments.size(), 3u);
    const std::vector<std::string>& last = children.arguments[2];
    auto log = std::find(last.begin(), last.end(), "--log");
    ASSERT_NE(log, last.end());
    EXPECT_EQ(*(log + 1), "logs/10.0.0.1-retry2.log");
}

}  // namespace
