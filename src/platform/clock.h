// Time and chance: the millisecond clock, sleeping, and the one pseudo-random generator.
#pragma once
#include <cstdint>

// Milliseconds since some fixed point; wraps around after 2^32 ms.
std::uint32_t clock_ms();
void clock_sleep_ms(std::uint32_t milliseconds);

// Tests may substitute the clock; nullptr restores the real one.
using ClockSource = std::uint32_t (*)();
void clock_substitute(ClockSource source);

constexpr int RANDOM_MAX = 32767;
void random_seed(std::uint32_t seed);
// Next value of the process-wide generator, 0 to RANDOM_MAX.
int random_next();
