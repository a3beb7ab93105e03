// The clock and the pseudo-random generator on Windows.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdlib>

#include "platform/clock.h"

namespace {
std::atomic<ClockSource> substitute{nullptr};
}

std::uint32_t clock_ms() {
    ClockSource source = substitute.load();
    if (source != nullptr) return source();
    return timeGetTime();
}

void clock_sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }

void clock_substitute(ClockSource source) { substitute.store(source); }

void random_seed(std::uint32_t seed) { std::srand(seed); }

int random_next() { return std::rand() & RANDOM_MAX; }
