// While a guard lives, a path that ends the process (run_end, fail_upgrade, the listener) makes
// the test run fail instead of ending it quietly as if it had passed. The unit tests' main keeps
// one for the whole run; a death test's child is let through, since its death test judges the end.
// Guards nest: only the outermost one installs and removes the hook.
#pragma once

class ProcessExitGuard {
public:
    ProcessExitGuard();
    ~ProcessExitGuard();
    ProcessExitGuard(const ProcessExitGuard&) = delete;
    ProcessExitGuard& operator=(const ProcessExitGuard&) = delete;
};
