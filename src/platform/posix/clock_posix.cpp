// The clock and the pseudo-random generator on POSIX.
#include "platform/clock.h"

#include <time.h>

#include <atomic>

#include "platform/random_lcg.h"

namespace {
std::atomic<ClockSource> substitute{nullptr};
std::atomic<std::uint32_t> random_state{1};
}  // namespace

std::uint32_t clock_ms() {
    ClockSource source = substitute.load();
    if (source != nullptr) return source();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                        static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
}

void clock_sleep_ms(std::uint32_t milliseconds) {
    timespec wanted{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec left{};
    while (nanosleep(&wanted, &left) != 0) wanted = left;
}

void clock_substitute(ClockSource source) { substitute.store(source); }

std::uint32_t clock_real_wait_ms(std::uint32_t clock_span_ms) {
    if (substitute.load() == nullptr) return clock_span_ms;
    return clock_span_ms < 1 ? clock_span_ms : 1;
}

void random_seed(std::uint32_t seed) { random_state.store(seed); }

int random_next() { return random_lcg::draw(&random_state); }
