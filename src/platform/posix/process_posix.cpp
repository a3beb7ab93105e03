// Ending the process on POSIX with a status, from any thread, without other threads' destructors.
#include "platform/process.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {
std::atomic<ExitHook> exit_hook{nullptr};
}

void process_set_exit_hook(ExitHook hook) { exit_hook.store(hook); }

void process_exit(int status) {
    ExitHook hook = exit_hook.exchange(nullptr);
    if (hook != nullptr) hook();
    std::fflush(nullptr);
    _exit(status);
}
