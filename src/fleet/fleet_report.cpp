// The report of a run over several devices, as CSV or JSON, written whole after each device's end.
#include "fleet/fleet_report.h"

#include <nlohmann/json.hpp>

#include "platform/file_replace.h"

namespace {

constexpr const char* FIELDS[] = {"address", "label", "product", "mac", "serial", "hardware",
                                  "version_before", "version_after", "result", "reason", "image",
                                  "seconds", "seconds_status", "seconds_transfer", "seconds_flash",
                                  "attempts"};
// The fields from "seconds" on are numbers: in JSON a number, or null when empty.
constexpr std::size_t FIRST_NUMBER = 11;

// Seconds with a tenth; empty below 0 (not measured).
std::string tenths(double seconds) {
    if (seconds < 0) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

std::string seconds_of(const FleetRow& row) {
    if (row.started_ms < 0 || row.ended_ms < row.started_ms) return "";
    return tenths(static_cast<double>(row.ended_ms - row.started_ms) / 1000.0);
}

std::vector<std::string> values_of(const FleetRow& row) {
    return {row.address, row.label,  row.product, row.mac, row.serial, row.hardware, row.before,
            row.after, fleet_result_word(row), row.reason, row.image, seconds_of(row),
            tenths(row.seconds_status), tenths(row.seconds_transfer), tenths(row.seconds_flash),
            std::to_string(row.attempts)};
}

bool lower_ends_with(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        char c = text[text.size() - end.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != end[i]) return false;
    }
    return true;
}

std::string csv_text(const std::vector<FleetRow>& rows) {
    std::string text;
    for (const char* field : FIELDS) text += std::string(text.empty() ? "" : ",") + field;
    text += "\r\n";
    for (const FleetRow& row : rows) {
        if (!fleet_row_finished(row)) continue;
        std::vector<std::string> values = values_of(row);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) text += ',';
            text += csv_cell(values[i]);
        }
        text += "\r\n";
    }
    return text;
}

std::string json_text(const std::vector<FleetRow>& rows) {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const FleetRow& row : rows) {
        if (!fleet_row_finished(row)) continue;
        nlohmann::ordered_json record;
        std::vector<std::string> values = values_of(row);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i < FIRST_NUMBER) record[FIELDS[i]] = values[i];
            else if (values[i].empty()) record[FIELDS[i]] = nullptr;
            else record[FIELDS[i]] = std::stod(values[i]);
        }
        record["attempts"] = row.attempts;
        all.push_back(record);
    }
    // Device texts may hold any byte: invalid UTF-8 is replaced, never an exception.
    return all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

bool fleet_report_format(const std::string& path, FleetReportFormat* format) {
    if (lower_ends_with(path, ".csv")) *format = FleetReportFormat::CSV;
    else if (lower_ends_with(path, ".json")) *format = FleetReportFormat::JSON;
    else return false;
    return true;
}

std::string csv_cell(const std::string& text) {
    std::string cell;
    if (!text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos) cell += '\'';
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string fleet_report_text(const std::vector<FleetRow>& rows, FleetReportFormat format) {
    return format == FleetReportFormat::CSV ? csv_text(rows) : json_text(rows);
}

bool fleet_report_write(const std::string& path, const std::vector<FleetRow>& rows,
                        FleetReportFormat format, std::string* problem) {
    return file_replace(path, fleet_report_text(rows, format), problem);
}
