// A run over several devices on the console (Linux): the fleet's run with POSIX children, shown as
// one table redrawn in place on a terminal, or a line per change otherwise, then the summary.
#pragma once

#include "app/command_line.h"

// Runs every device and returns the exit status: 0 every device verified or current; 3 a check
// that found devices to upgrade; 1 otherwise (a Ctrl-C, a report that could not be rewritten
// included); 2 for a wrong command line or a file it names that cannot be used. The arguments
// are main's.
int run_fleet_console(const CommandLine& line, int argc, const char* const* argv);
