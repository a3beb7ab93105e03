// The list window's rows, buttons and questions as texts.
#include "main/list_rows.h"

namespace {

constexpr const char* COLUMN_TITLES[LIST_COLUMNS] = {"Address", "Product", "Version Before",
                                                     "Version After", "Image", "State"};

}  // namespace

const char* list_column_title(ListColumn column) { return COLUMN_TITLES[column]; }

std::string list_state_text(const FleetRow& row, bool checking) {
    // The window's rows are narrower than the console's: its own words where they are shorter.
    if (row.state == FleetState::CURRENT) return "current";
    if (row.state == FleetState::NOT_STARTED) return "not started";
    if (row.state == FleetState::OTHER_MODEL) return "other model";
    // A check's row says only that it is being read, unless it waits for a retry.
    if (checking && !fleet_row_ended(row) && row.state != FleetState::RETRY_WAIT) return "checking";
    return fleet_state_text(row);
}

std::vector<std::string> list_row_texts(const FleetRow& row, bool checking) {
    std::string address = row.address;
    if (!row.label.empty()) address += "  " + row.label;
    return {address, row.product, row.before, row.after, row.image, list_state_text(row, checking)};
}

std::string list_row_detail(const FleetRow& row, bool checking) {
    std::string address = row.address;
    if (!row.label.empty()) address += "  " + row.label;
    std::string state = list_state_text(row, checking);
    if (row.state == FleetState::FAILED) state = "failed: " + row.reason;
    if (row.state == FleetState::NOT_STARTED) state = "not started: " + row.reason;
    if (row.state == FleetState::OTHER_MODEL) state = fleet_state_text(row);
    return address + ": " + state;
}

std::string list_upgrade_text(std::size_t devices) {
    return "Upgrade " + std::to_string(devices) + (devices == 1 ? " Device" : " Devices");
}

std::string list_window_title(const std::string& product_label, std::size_t devices) {
    return product_label + " Firmware Upgrade: " + std::to_string(devices) +
           (devices == 1 ? " Device" : " Devices");
}

std::string list_stop_question(int flashing) {
    std::string devices = flashing == 1 ? "1 device is" : std::to_string(flashing) + " devices are";
    return devices + " writing the new firmware to flash. Stopping now does not stop the device: "
           "check its version before retrying, and do not power it off.\r\n\r\nStop the run?";
}
