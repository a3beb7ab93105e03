// Time and chance: the millisecond clock, sleeping, and the one pseudo-random generator.
#pragma once
#include <cstdint>

// Milliseconds since some fixed point; wraps around after 2^32 ms.
std::uint32_t clock_ms();
void clock_sleep_ms(std::uint32_t milliseconds);

// Tests may substitute the clock; nullptr restores the real one.
using ClockSource = std::uint32_t (*)();
void clock_substitute(ClockSource source);
// How long a wait may last in real time while clock_span_ms pass on the clock: the span itself,
// or at most 1 ms under a substitute, whose time need not follow real time; the caller then reads
// the clock again.
std::uint32_t clock_real_wait_ms(std::uint32_t clock_span_ms);

constexpr int RANDOM_MAX = 32767;
void random_seed(std::uint32_t seed);
// Next value of the process-wide generator, 0 to RANDOM_MAX.
int random_next();
