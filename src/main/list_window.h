// The Windows program over several devices: one resizable window with a row per device. It
// checks every device first, then upgrades those that need it when asked ("Upgrade N Devices"),
// stops on "Stop", runs the failed ones again, saves a report; with /yes it does all of it by
// itself and ends. Each device's check or upgrade is a hidden child of this same program in its
// single-device mode, scheduled by src/fleet/.
#pragma once

#include "app/command_line.h"
#include "platform/dialogs.h"

// Runs the window (when fleet_wanted) and returns the exit status: 0 every device verified or
// current, 3 devices still need the upgrade (a check), 1 a device failed or was not started or
// the report could not be rewritten, 2 a wrong option or a file it names that cannot be used
// (after a box that says what).
int run_list_window(ModuleHandle instance, const CommandLine& line);
