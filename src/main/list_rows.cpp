// The list window's rows and buttons as texts, and the rows each step runs.
#include "main/list_rows.h"

namespace {

constexpr const char* COLUMN_TITLES[LIST_COLUMNS] = {"Address", "Product", "Version Before",
                                                     "Version After", "State"};

constexpr const char* PASSWORD_WANTED = "Upgrade Failed: the device wants a password";

std::string running_text(const FleetRow& row) {
    switch (row.state) {
        case FleetState::QUEUED: return "queued";
        case FleetState::CONNECTING:
        case FleetState::WAITING_REQUEST:
            if (row.connect_attempt > 1) {
                return "no answer, attempt " + std::to_string(row.connect_attempt) + " of " +
                       std::to_string(row.connect_attempts);
            }
            return "connecting";
        case FleetState::UPLOADING: return "uploading " + std::to_string(row.percent) + " %";
        case FleetState::FLASHING:
            return row.seconds_left < 0 ? "flashing" : "flashing " + std::to_string(row.seconds_left) + " s";
        case FleetState::VERIFYING: return "verifying";
        default: return "";
    }
}

}  // namespace

const char* list_column_title(ListColumn column) { return COLUMN_TITLES[column]; }

std::string list_state_text(const FleetRow& row, bool checking) {
    switch (row.state) {
        case FleetState::VERIFIED: return "verified";
        case FleetState::CURRENT: return "current";
        case FleetState::NEEDS_UPGRADE: return "needs upgrade";
        case FleetState::FAILED: return "failed: " + fleet_short_reason(row.reason);
        case FleetState::NOT_STARTED: return "not started";
        default: return checking ? "checking" : running_text(row);
    }
}

std::vector<std::string> list_row_texts(const FleetRow& row, bool checking) {
    std::string address = row.address;
    if (!row.label.empty()) address += "  " + row.label;
    return {address, row.product, row.before, row.after, list_state_text(row, checking)};
}

std::string list_upgrade_text(std::size_t devices) {
    return "Upgrade " + std::to_string(devices) + (devices == 1 ? " Device" : " Devices");
}

std::string list_window_title(const std::string& product_label, std::size_t devices) {
    return product_label + " Firmware Upgrade: " + std::to_string(devices) +
           (devices == 1 ? " Device" : " Devices");
}

std::vector<std::size_t> list_rows_to_upgrade(const std::vector<FleetRow>& rows,
                                              bool include_current) {
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool current = rows[i].state == FleetState::CURRENT;
        if (rows[i].state == FleetState::NEEDS_UPGRADE || (include_current && current)) {
            chosen.push_back(i);
        }
    }
    return chosen;
}

std::vector<std::size_t> list_rows_to_retry(const std::vector<FleetRow>& rows) {
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].state == FleetState::FAILED || rows[i].state == FleetState::NOT_STARTED) {
            chosen.push_back(i);
        }
    }
    return chosen;
}

bool list_row_wants_password(const FleetRow& row) {
    return row.state == FleetState::FAILED && row.reason.rfind(PASSWORD_WANTED, 0) == 0;
}

void list_row_take(FleetRow* shown, const FleetRow& run_row) {
    FleetRow kept = *shown;
    *shown = run_row;
    shown->label = kept.label;
    if (shown->product.empty()) {
        shown->product = kept.product;
        shown->mac = kept.mac;
        shown->serial = kept.serial;
        shown->hardware = kept.hardware;
    }
    if (shown->before.empty()) shown->before = kept.before;
}

int list_exit_status(const std::vector<FleetRow>& rows) {
    bool needs_upgrade = false;
    for (const FleetRow& row : rows) {
        if (row.state == FleetState::NEEDS_UPGRADE) needs_upgrade = true;
        else if (row.state != FleetState::VERIFIED && row.state != FleetState::CURRENT) return 1;
    }
    return needs_upgrade ? CHILD_NEEDS_UPGRADE_STATUS : 0;
}
