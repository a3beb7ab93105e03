// The Windows program's list window over several devices, apart from its window: the texts of its
// rows, its buttons and its caption. Platform-free, so that the unit tests read it.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

enum ListColumn {
    LIST_ADDRESS, LIST_PRODUCT, LIST_BEFORE, LIST_AFTER, LIST_IMAGE, LIST_STATE, LIST_COLUMNS
};

// The column headings, in order.
const char* list_column_title(ListColumn column);

// The state as the row shows it: the console's words (fleet_state_text), but "checking" while
// the check runs, "current", "other model" and "not started" (the reason is in the line under the
// list).
std::string list_state_text(const FleetRow& row, bool checking);
// The texts of the row's columns; the address with its label after it.
std::vector<std::string> list_row_texts(const FleetRow& row, bool checking);
// The line under the list for the selected row: its address and label, and its state with the
// whole reason ("127.0.0.5  office 3: failed: Upgrade Failed: the device refused the password").
std::string list_row_detail(const FleetRow& row, bool checking);

// "Upgrade 3 Devices", "Upgrade 1 Device".
std::string list_upgrade_text(std::size_t devices);
// The window's caption: "TEV-4400 Firmware Upgrade: 4 Devices".
std::string list_window_title(const std::string& product_label, std::size_t devices);
// The question before Stop while devices write their flash.
std::string list_stop_question(int flashing);
