// The pseudo-random generator both builds share: one linear congruential state for the whole
// process, advanced with a compare-exchange so that draws from several threads at once each take
// their own step of the sequence (the C runtime's rand keeps a state per thread on Windows, so a
// new thread would always start from the same seed).
#pragma once
#include <atomic>
#include <cstdint>

namespace random_lcg {

// The C runtime's own constants, so both builds draw alike from the same seed.
constexpr std::uint32_t step(std::uint32_t state) { return state * 214013u + 2531011u; }

inline int draw(std::atomic<std::uint32_t>* state) {
    std::uint32_t current = state->load(std::memory_order_relaxed);
    while (!state->compare_exchange_weak(current, step(current), std::memory_order_relaxed)) {
    }
    return static_cast<int>((step(current) >> 16) & 0x7fffu);
}

}  // namespace random_lcg
