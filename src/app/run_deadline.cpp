// The deadline of an unattended run: a thread that sleeps until it passes, then ends the run with
// the box a Cancel shows, the result telling why.
#include "app/run_deadline.h"

#include <algorithm>
#include <cstdio>

#include "core/run_report.h"
#include "core/trace.h"
#include "platform/clock.h"
#include "platform/threads.h"
#include "ui/error_box.h"

namespace {

constexpr std::uint32_t LOOK_EVERY_MS = 250;

struct DeadlineWatch {
    long seconds;
    std::uint32_t start_ms;
};

[[noreturn]] void end_at_deadline(long seconds) {
    // A run that has its result (the success dialog waits for its OK) keeps it: the deadline only
    // ends the wait.
    if (run_outcome_is_settled()) {
        trace("The run's deadline of %ld s passed after its result: it ends with it\n", seconds);
        run_end();
    }
    trace("The run's deadline of %ld s passed: it ends as a Cancel would\n", seconds);
    show_error_box("Upgrade Failed: User Abort");
    char why[96];
    std::snprintf(why, sizeof why, "Upgrade Failed: User Abort: the deadline of %ld s passed",
                  seconds);
    run_outcome_failed(why);
    run_end();
}

std::int32_t watch_deadline(void* argument) {
    const auto* watch = static_cast<const DeadlineWatch*>(argument);
    trace_name_thread("deadline");
    auto limit_ms = static_cast<std::uint32_t>(watch->seconds) * 1000u;
    for (std::uint32_t passed = 0; passed < limit_ms; passed = clock_ms() - watch->start_ms) {
        clock_sleep_ms(std::min(limit_ms - passed, LOOK_EVERY_MS));
    }
    end_at_deadline(watch->seconds);
}

}  // namespace

long run_deadline_seconds(const CommandLine& line) {
    long seconds = 0;
    if (line.deadline != nullptr && read_deadline_seconds(line.deadline, &seconds)) return seconds;
    return line.yes ? DEFAULT_RUN_DEADLINE_S : 0;
}

bool start_run_deadline(long seconds) {
    if (seconds <= 0) return true;
    trace("The run ends by itself after %ld s\n", seconds);
    static DeadlineWatch watch;
    watch = DeadlineWatch{seconds, clock_ms()};
    return thread_start_detached(watch_deadline, &watch);
}
