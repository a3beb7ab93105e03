// The run's outcome and the exit status it gives.
#include <gtest/gtest.h>

#include "core/run_report.h"

namespace {

TEST(RunOutcome, OnlyTheSuccessDialogGivesStatusZero) {
    run_outcome_failed("Upgrade Failed: User Abort");
    EXPECT_EQ(run_exit_status(), EXIT_FAILED);
    run_outcome_verified("TEV@10.1.0.123 Upgrade Successful!");
    EXPECT_EQ(run_exit_status(), EXIT_VERIFIED);
    run_outcome_failed("Upgrade Failed: Version not matching");  // a later box wins
    EXPECT_EQ(run_exit_status(), EXIT_FAILED);
    run_exit_status_tells(false);
    EXPECT_EQ(run_exit_status(), 0);
    run_exit_status_tells(true);
    EXPECT_EXIT(run_end(), ::testing::ExitedWithCode(EXIT_FAILED), "");
}

}  // namespace
