// The unit tests' main: the whole run under one ProcessExitGuard, so that no test that reaches a
// path ending the process by mistake can count as passed.
#include <gtest/gtest.h>

#include "process_exit_guard.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ProcessExitGuard guard;
    return RUN_ALL_TESTS();
}
