// How long each phase of one upgrade took, measured on the program's clock (platform/clock.h):
// the status page (from the status query's start until its five values were read), the transfer
// (from the upgrade command to the last block acknowledged) and the flash (from there until the
// verification query answered). A run with a transition image adds up both stages' spans. The
// result event tells them, so that a run over many devices can say where a slow site's time went.
#pragma once

enum class RunPhase { STATUS, TRANSFER, FLASH };

// Begins a span of the phase now; a span already begun starts again.
void run_phase_begin(RunPhase phase);
// Ends the span begun, adding it to the phase; nothing when none was begun.
void run_phase_end(RunPhase phase);
// The phase's seconds, with milliseconds; below 0 when no span of it ended (it did not happen,
// or not to its end).
double run_phase_seconds(RunPhase phase);
// Forgets every phase (for tests).
void run_phases_clear();
