// The deadline of an unattended run over one device: nobody is there to press Cancel, so a device
// that never asks for the image, or a server that never ends its answer, must not hold a script
// for ever. When the deadline passes the run ends as a Cancel would.
#pragma once
#include "app/command_line.h"
#include "core/run_limits.h"

// The run's deadline in seconds: --deadline, or DEFAULT_RUN_DEADLINE_S with --yes; 0 (none) for a
// run a person answers. The command line has been checked.
long run_deadline_seconds(const CommandLine& line);
// Watches the deadline from a thread of its own, counted from now; nothing to do for 0. False
// when no thread could be started.
bool start_run_deadline(long seconds);
