// The seeded generator behind the fault rates: the same seed and options give the same faults.
#pragma once
#include <cstdint>

struct FaultDice {
    std::uint64_t state;
};

void dice_seed(FaultDice* dice, std::uint32_t seed);
// True for the share `rate` of the calls: never at 0, always at 1, drawn in between.
bool dice_hits(FaultDice* dice, double rate);
std::uint64_t dice_next(FaultDice* dice);
