// A run over several devices (Linux): each upgrade is a child process of this same program in its
// single-device mode, its events read from a pipe; the parent draws one table and a summary.
#pragma once
#include <cstdint>

#include "app/command_line.h"

// Whether the command line asks for the run over several devices: --devices, --device more than
// once, --jobs or --log-dir.
bool fleet_wanted(const CommandLine& line);

// Upgrades every device and returns the exit status: 0 when every device was verified, 1
// otherwise (a Ctrl-C included), 2 for a wrong command line or devices file. program is argv[0].
int run_fleet(const CommandLine& line, const char* program);
