// Retries of a run over several devices (--retries, --retry-wait): which failures another attempt
// may mend, how long before it, and what a row forgets when it starts again.
#pragma once
#include <cstdint>

#include "fleet/fleet_row.h"

// Whether the device failed, once its child has ended, before anything could have been written
// to its flash, in a way that may pass: no answer before it took the upgrade command, or a
// transfer that stopped before its last block. Never after a whole image went out, nor for a
// refused password (it would lock the account), another model, a wrong version, a child the run
// stopped (Ctrl-C, Stop, the deadline) or one that ended without its result.
bool fleet_row_retryable(const FleetRow& row, const FleetChildEnd& end);

// The wait before the attempt that follows `attempts` attempts: the first wait, doubled for each
// further retry.
std::int64_t fleet_retry_wait_ms(std::int64_t first_wait_ms, int attempts);

// The row of a failed attempt waits for its next one: it has not ended.
void fleet_row_wait_retry(FleetRow* row, std::int64_t wait_ms);

// What the next attempt's child must tell anew is forgotten; the device's texts read before, the
// start of its first attempt and the count of attempts stay.
void fleet_row_restart(FleetRow* row);
