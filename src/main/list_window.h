// The Windows program over several devices: one resizable window with a row per device. It
// checks every device first, then upgrades those that need it when asked ("Upgrade N Devices"),
// stops on "Stop", runs the failed ones again, saves a report; with /yes it does all of it by
// itself and ends. Each device's check or upgrade is a hidden child of this same program in its
// single-device mode, scheduled by src/fleet/.
#pragma once

#include "app/command_line.h"
#include "platform/dialogs.h"

// Whether the command line asks for the list window: /devices, /device more than once, /jobs,
// /report, /canary or /maxfailures.
bool list_window_wanted(const CommandLine& line);

// Runs the window and returns the exit status: 0 every device verified or current, 3 devices
// still need the upgrade (a check), 1 a device failed or was not started, 2 a wrong devices file
// or option (after a box that says what).
int run_list_window(ModuleHandle instance, const CommandLine& line);
