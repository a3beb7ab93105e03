// While a guard lives, a path that ends the process (status 0, as every end of the upgrader) makes
// the test run fail instead of ending it quietly as if it had passed.
#pragma once

class ProcessExitGuard {
public:
    ProcessExitGuard();
    ~ProcessExitGuard();
    ProcessExitGuard(const ProcessExitGuard&) = delete;
    ProcessExitGuard& operator=(const ProcessExitGuard&) = delete;
};
