// Turns an end of the process during a test into a failure.
#include "process_exit_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "console/console_input.h"
#include "platform/process.h"

namespace {

int guards = 0;

void unexpected_end() {
    console_input_restore_terminal();
    if (::testing::internal::InDeathTestChild()) return;  // the death test expects an end
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "FAILED: the process was ended during %s%s%s, which does not expect it\n",
                 test != nullptr ? test->test_suite_name() : "the test run",
                 test != nullptr ? "." : "", test != nullptr ? test->name() : "");
    std::fflush(nullptr);
    _exit(3);
}

}  // namespace

ProcessExitGuard::ProcessExitGuard() {
    if (guards++ > 0) return;
    console_input_prepare();  // first, so the console's own hook does not replace ours later
    process_set_exit_hook(unexpected_end);
}

ProcessExitGuard::~ProcessExitGuard() {
    if (--guards > 0) return;
    process_set_exit_hook(console_input_restore_terminal);
}
