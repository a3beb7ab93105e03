// A run over several devices (Linux): each device's upgrade or check is a child process of this
// same program in its single-device mode, scheduled by src/fleet/ and shown as one table.
#pragma once

#include "app/command_line.h"

// Whether the command line asks for the run over several devices: --devices, --device more than
// once, --jobs, --log-dir, --report, --canary or --max-failures.
bool fleet_wanted(const CommandLine& line);

// Runs every device and returns the exit status: 0 every device verified or current; 3 a check
// that found devices to upgrade; 1 otherwise (a Ctrl-C included); 2 for a wrong command line or
// devices file. The arguments are main's.
int run_fleet(const CommandLine& line, int argc, const char* const* argv);
