// The system clock and sleep on Windows.
#include <windows.h>
#include <mmsystem.h>

#include "platform/clock.h"
#include "platform/clock_system.h"

namespace {
// Millisecond timer resolution for the whole run. On the stock timer every short wait lasts a
// whole system tick of 10 to 16 ms. The transfer measures its silent periods on the clock, so
// their length does not rest on this, but each would end up to a tick late: a lost packet would
// cost up to about 115 ms instead of 100. The device request runner polls its worker every 1 ms
// and would add a tick to every status query. The cost, more timer interrupts, lasts only as
// long as the upgrade.
const bool precise_timer = timeBeginPeriod(1) == TIMERR_NOERROR;
}

std::uint32_t clock_system_ms() { return timeGetTime(); }

void clock_sleep_ms(std::uint32_t milliseconds) {
    (void)precise_timer;
    Sleep(milliseconds);
}
