// The deadline of an unattended run over one device: which runs get one, and how it ends them.
#include "app/run_deadline.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/console_input.h"
#include "console/console_output.h"
#include "core/run_report.h"
#include "platform/clock.h"
#include "ui/scripted_answers.h"

namespace {

long deadline_of(std::vector<const char*> arguments, CommandAction* action = nullptr) {
    CommandLine line = parse_command_line(static_cast<int>(arguments.size()), arguments.data(),
                                          OptionStyle::LINUX);
    if (action != nullptr) *action = line.action;
    return line.action == CommandAction::UPGRADE ? run_deadline_seconds(line) : -1;
}

TEST(RunDeadline, AnUnattendedRunHasOneAndARunAPersonAnswersHasNoneUnlessAsked) {
    EXPECT_EQ(deadline_of({"--device", "10.0.0.2", "--yes"}), DEFAULT_RUN_DEADLINE_S);
    EXPECT_EQ(DEFAULT_RUN_DEADLINE_S, 600);
    EXPECT_EQ(deadline_of({"--device", "10.0.0.2"}), 0);
    EXPECT_EQ(deadline_of({}), 0);
    EXPECT_EQ(deadline_of({"--device", "10.0.0.2", "--yes", "--deadline", "45"}), 45);
    EXPECT_EQ(deadline_of({"--device", "10.0.0.2", "--deadline=86400"}), 86400);
    for (const char* wrong : {"0", "86401", "-5", "5s", "", "99999999999999999999"}) {
        CommandAction action = CommandAction::UPGRADE;
        deadline_of({"--device", "10.0.0.2", "--yes", "--deadline", wrong}, &action);
        EXPECT_EQ(action, CommandAction::BAD_USAGE) << '"' << wrong << '"';
    }
}

// The result event's text, on standard error where the death test reads it, and whether the run
// had its whole time.
std::uint32_t started_ms = 0;
long deadline_s = 0;

class ResultOnStandardError final : public RunEvents {
public:
    void result(RunResult result, const char* text, const char*, const char*) override {
        bool on_time = clock_ms() - started_ms >= static_cast<std::uint32_t>(deadline_s) * 1000u;
        std::fprintf(stderr, "result %s: %s (%s)\n", run_result_word(result), text,
                     on_time ? "on time" : "early");
    }
};

// A run that would wait for ever, with a deadline; settled: after the device was verified.
void wait_past(long seconds, bool settled = false) {
    if (settled) run_outcome_verified("Upgrade Successful!");
    console_output_use(stderr);
    console_input_use(open("/dev/null", O_RDONLY));
    ScriptedAnswerSet answers;
    answers.yes = true;
    scripted_answers_use(answers);
    static ResultOnStandardError events;
    run_events_use(&events);
    started_ms = clock_ms();
    deadline_s = seconds;
    if (!start_run_deadline(seconds)) std::exit(9);
    clock_sleep_ms(60'000);
    std::exit(8);
}

TEST(RunDeadline, WhenItPassesTheRunEndsAsACancelWouldAndTheResultSaysWhy) {
    EXPECT_EXIT(wait_past(1), ::testing::ExitedWithCode(EXIT_FAILED),
                "Upgrade Failed: User Abort\n(.|\n)*result failed: Upgrade Failed: User Abort: "
                "the deadline of 1 s passed \\(on time\\)\n");
    // The success dialog still up when it passes: the device stays verified.
    EXPECT_EXIT(wait_past(1, true), ::testing::ExitedWithCode(EXIT_VERIFIED),
                "^result verified: Upgrade Successful! \\(on time\\)\n");
}

}  // namespace
