// The deadline of an unattended run over one device: nobody is there to press Cancel, so a device
// that never asks for the image, or a server that never ends its answer, must not hold a script
// for ever. When the deadline passes the run ends as a Cancel would.
#pragma once
#include "app/command_line.h"

// Far past any upgrade that is still getting somewhere (about 31 s, 58 s with a silent device).
constexpr long DEFAULT_RUN_DEADLINE_S = 600;
constexpr long MAX_RUN_DEADLINE_S = 86400;

// Seconds from a --deadline value, 1 to MAX_RUN_DEADLINE_S; false for anything else.
bool read_deadline_seconds(const char* text, long* seconds);
// The run's deadline in seconds: --deadline, or DEFAULT_RUN_DEADLINE_S with --yes; 0 (none) for a
// run a person answers. The command line has been checked.
long run_deadline_seconds(const CommandLine& line);
// Watches the deadline from a thread of its own, counted from now; nothing to do for 0. False
// when no thread could be started.
bool start_run_deadline(long seconds);
