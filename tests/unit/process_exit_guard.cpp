// Turns an end of the process during a test into a failure.
#include "process_exit_guard.h"

#include <unistd.h>

#include <cstdio>

#include "platform/posix/console_input.h"
#include "platform/process.h"

namespace {
void unexpected_end() {
    std::fputs("the process was ended during a test that does not expect it\n", stderr);
    _exit(3);
}
}  // namespace

ProcessExitGuard::ProcessExitGuard() {
    console_input_prepare();  // first, so the console's own hook does not replace ours later
    process_set_exit_hook(unexpected_end);
}

ProcessExitGuard::~ProcessExitGuard() { process_set_exit_hook(console_input_restore_terminal); }
