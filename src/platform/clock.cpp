// The clock that tests may substitute and the one pseudo-random generator, the same on every
// system; each system's file gives only its own millisecond clock and sleep.
#include "platform/clock.h"

#include <atomic>

#include "platform/clock_system.h"

namespace {

std::atomic<ClockSource> substitute{nullptr};

// One linear congruential state for the whole process, advanced with a compare-exchange so that
// draws from several threads at once each take their own step of the sequence. Not the C
// runtime's rand: on Windows it keeps a state per thread, so a new thread would always start from
// the same seed, and the digest's client nonce is drawn on a new request worker thread each time.
std::atomic<std::uint32_t> random_state{1};

// The C runtime's own constants, so both builds draw alike from the same seed.
constexpr std::uint32_t random_step(std::uint32_t state) { return state * 214013u + 2531011u; }

}  // namespace

std::uint32_t clock_ms() {
    ClockSource source = substitute.load();
    if (source != nullptr) return source();
    return clock_system_ms();
}

void clock_substitute(ClockSource source) { substitute.store(source); }

std::uint32_t clock_real_wait_ms(std::uint32_t clock_span_ms) {
    if (substitute.load() == nullptr) return clock_span_ms;
    return clock_span_ms < 1 ? clock_span_ms : 1;
}

void random_seed(std::uint32_t seed) { random_state.store(seed); }

int random_next() {
    std::uint32_t current = random_state.load(std::memory_order_relaxed);
    while (!random_state.compare_exchange_weak(current, random_step(current),
                                               std::memory_order_relaxed)) {
    }
    return static_cast<int>((random_step(current) >> 16) & 0x7fffu);
}
