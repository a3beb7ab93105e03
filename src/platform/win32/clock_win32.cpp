// The clock and the pseudo-random generator on Windows.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "platform/clock.h"
#include "platform/random_lcg.h"

namespace {
std::atomic<ClockSource> substitute{nullptr};
std::atomic<std::uint32_t> random_state{1};
// Millisecond timer resolution for the whole run. On the stock timer every short wait lasts a
// whole system tick of 10 to 16 ms. The transfer measures its silent periods on the clock, so
// their length does not rest on this, but each would end up to a tick late: a lost packet would
// cost up to about 115 ms instead of 100. The device request runner polls its worker every 1 ms
// and would add a tick to every status query. The cost, more timer interrupts, lasts only as
// long as the upgrade.
const bool precise_timer = timeBeginPeriod(1) == TIMERR_NOERROR;
}

std::uint32_t clock_ms() {
    ClockSource source = substitute.load();
    if (source != nullptr) return source();
    return timeGetTime();
}

void clock_sleep_ms(std::uint32_t milliseconds) {
    (void)precise_timer;
    Sleep(milliseconds);
}

void clock_substitute(ClockSource source) { substitute.store(source); }

std::uint32_t clock_real_wait_ms(std::uint32_t clock_span_ms) {
    if (substitute.load() == nullptr) return clock_span_ms;
    return clock_span_ms < 1 ? clock_span_ms : 1;
}

void random_seed(std::uint32_t seed) { random_state.store(seed); }

// Not the C runtime's rand: its state is per thread, and the digest's client nonce is drawn on a
// new request worker thread each time.
int random_next() { return random_lcg::draw(&random_state); }
