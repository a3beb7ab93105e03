// Ending the process on Windows, from any thread.
#include <windows.h>

#include <atomic>

#include "platform/process.h"

namespace {
std::atomic<ExitHook> exit_hook{nullptr};
}

void process_set_exit_hook(ExitHook hook) { exit_hook.store(hook); }

void process_exit(int status) {
    ExitHook hook = exit_hook.exchange(nullptr);
    if (hook != nullptr) hook();
    ExitProcess(static_cast<UINT>(status));
}
