// The Windows program's list window over several devices, apart from its window: the texts of its
// rows and buttons, which devices each of its steps runs, and how the rows of each step's run
// (the check, the upgrade, the run of the failed ones again) become the window's one row a device.
// Platform-free, so that the unit tests read it.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

enum ListColumn { LIST_ADDRESS, LIST_PRODUCT, LIST_BEFORE, LIST_AFTER, LIST_STATE, LIST_COLUMNS };

// The column headings, in order.
const char* list_column_title(ListColumn column);

// The state as the row shows it: "checking" while the check runs, "current", "needs upgrade",
// "connecting", "uploading 45 %", "flashing 25 s", "verifying", "verified", "failed: wrong
// password", "not started".
std::string list_state_text(const FleetRow& row, bool checking);
// The texts of the row's columns; the address with its label after it.
std::vector<std::string> list_row_texts(const FleetRow& row, bool checking);

// "Upgrade 3 Devices", "Upgrade 1 Device".
std::string list_upgrade_text(std::size_t devices);
// The window's caption: "TEV-4400 Firmware Upgrade: 4 Devices".
std::string list_window_title(const std::string& product_label, std::size_t devices);

// The rows the upgrade runs: those that need it, and the current ones too when asked.
std::vector<std::size_t> list_rows_to_upgrade(const std::vector<FleetRow>& rows,
                                              bool include_current);
// The rows "Run Failed Again" runs: the failed and the not started.
std::vector<std::size_t> list_rows_to_retry(const std::vector<FleetRow>& rows);
// The check found that the device wants a password and none was given.
bool list_row_wants_password(const FleetRow& row);

// A row of a step's run shown in the window's row: what the step has not read yet (it failed
// before the device answered) stays as the check read it; the label is the window's.
void list_row_take(FleetRow* shown, const FleetRow& run_row);

// The program's exit status from the window's rows: 1 a device failed or was not started, 3 a
// device still needs the upgrade, 0 every device verified or current.
int list_exit_status(const std::vector<FleetRow>& rows);
