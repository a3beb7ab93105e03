// splitmix64: small, fast and well spread even for neighbouring seeds.
#include "fault_dice.h"

void dice_seed(FaultDice* dice, std::uint32_t seed) { dice->state = 0x9e3779b97f4a7c15ULL * (seed + 1ULL); }

std::uint64_t dice_next(FaultDice* dice) {
    std::uint64_t z = (dice->state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

bool dice_hits(FaultDice* dice, double rate) {
    if (rate <= 0.0) return false;
    if (rate >= 1.0) return true;
    return static_cast<double>(dice_next(dice) >> 11) * 0x1.0p-53 < rate;
}
