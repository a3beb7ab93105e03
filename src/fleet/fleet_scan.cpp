// A scan's rows: silent, not a TEV, or a TEV found; their counts and the devices file.
#include "fleet/fleet_scan.h"

#include "fleet/fleet_progress.h"

namespace {

// The texts a check ends with when nothing answered, or something that is no TEV did (the
// single-device program's boxes).
constexpr const char* SILENT_TEXT = NO_ANSWER_TEXT;
constexpr const char* OTHER_TEXTS[] = {
    "Upgrade Failed: The Address Answered, But Not As A TEV",
    "Upgrade Failed: The TEV Asks For A Login This Program Cannot Answer",
    "Upgrade Failed: The TEV Answered ",
};

bool starts_with(const std::string& text, const char* start) {
    return text.compare(0, std::char_traits<char>::length(start), start) == 0;
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

ScanAnswer scan_answer(const FleetRow& row) {
    if (row.state == FleetState::NOT_STARTED) return ScanAnswer::NOT_ASKED;
    if (!fleet_row_finished(row)) return ScanAnswer::PENDING;
    if (row.state != FleetState::FAILED) return ScanAnswer::TEV;
    if (row.reason == SILENT_TEXT) return ScanAnswer::SILENT;
    for (const char* other : OTHER_TEXTS) {
        if (starts_with(row.reason, other)) return ScanAnswer::OTHER;
    }
    return ScanAnswer::TEV;
}

ScanCounts scan_counts(const std::vector<FleetRow>& rows) {
    ScanCounts counts;
    counts.addresses = rows.size();
    for (const FleetRow& row : rows) {
        switch (scan_answer(row)) {
            case ScanAnswer::PENDING: continue;
            case ScanAnswer::NOT_ASKED: ++counts.not_asked; continue;
            case ScanAnswer::SILENT: ++counts.silent; break;
            case ScanAnswer::OTHER: ++counts.other; break;
            case ScanAnswer::TEV: ++counts.found; break;
        }
        ++counts.asked;
    }
    return counts;
}

std::string scan_head_line(const ScanCounts& counts, std::int64_t elapsed_ms) {
    std::string line = plural(counts.addresses, "address", "addresses") + ": " +
                       std::to_string(counts.asked) + " asked, " +
                       plural(counts.found, "TEV", "TEVs") + " found, " +
                       std::to_string(counts.silent) + " silent, " +
                       plural(counts.other, "not a TEV", "not TEVs");
    if (counts.not_asked > 0) line += ", " + std::to_string(counts.not_asked) + " not asked";
    return line + "; " + fleet_clock_text(elapsed_ms) + " elapsed";
}

std::vector<FleetRow> scan_found_rows(const std::vector<FleetRow>& rows) {
    std::vector<FleetRow> found;
    for (const FleetRow& row : rows) {
        if (scan_answer(row) == ScanAnswer::TEV) found.push_back(row);
    }
    return found;
}

std::string scan_devices_text(const std::vector<FleetRow>& rows, const std::string& range) {
    std::string text = "# The TEVs found in " + range + "\n";
    for (const FleetRow& row : scan_found_rows(rows)) {
        std::string label = row.product;
        if (!row.serial.empty()) label += (label.empty() ? "" : " ") + row.serial;
        text += row.address;
        if (!label.empty()) text += "  " + label;
        text += "\n";
    }
    return text;
}
