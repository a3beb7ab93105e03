// The times of an upgrade's phases, on the program's clock.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/run_phases.h"
#include "platform/clock.h"

namespace {

std::uint32_t fake_now = 0;
std::uint32_t fake_clock() { return fake_now; }

// Spans add up (a transition image's two transfers), across the clock's wrap; a phase begun and
// never ended has no time.
TEST(RunPhases, AddTheSpansThatEnded) {
    clock_substitute(fake_clock);
    run_phases_clear();
    fake_now = 0xFFFFFF00u;
    for (std::uint32_t span : {1500u, 500u}) {
        run_phase_begin(RunPhase::TRANSFER);
        fake_now += span;
        run_phase_end(RunPhase::TRANSFER);
    }
    run_phase_end(RunPhase::TRANSFER);
    run_phase_begin(RunPhase::FLASH);
    EXPECT_DOUBLE_EQ(run_phase_seconds(RunPhase::TRANSFER), 2.0);
    EXPECT_LT(run_phase_seconds(RunPhase::FLASH), 0);
    EXPECT_LT(run_phase_seconds(RunPhase::STATUS), 0);
    run_phases_clear();
    clock_substitute(nullptr);
}

}  // namespace
