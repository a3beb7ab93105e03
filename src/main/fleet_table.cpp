// The rows of a run over several devices: each device's event lines turned into its state, and
// the table and summary texts drawn from the rows.
#include "main/fleet_table.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

std::string text_of(const Json& e, const char* key) {
    auto value = e.find(key);
    return value != e.end() && value->is_string() ? value->get<std::string>() : std::string();
}

long number_of(const Json& e, const char* key) {
    auto value = e.find(key);
    return value != e.end() && value->is_number() ? value->get<long>() : 0;
}

// Texts from the device go into a terminal: no control characters.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return text;
}

std::string seconds_text(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

std::string end_text(const FleetChildEnd& end) {
    if (!end.exited) {
        const char* name = strsignal(end.code);
        std::string signal = "signal " + std::to_string(end.code) + " (" +
                             (name != nullptr ? name : "unknown") + ")";
        return end.code == SIGKILL ? "killed by " + signal : "crashed: " + signal;
    }
    return "ended with status " + std::to_string(end.code) + " without a result";
}

// Columns padded to the widest cell of each; the last one as it is.
std::vector<std::string> columns(const std::vector<std::vector<std::string>>& cells) {
    std::vector<std::size_t> widths;
    for (const auto& line : cells) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            if (line[i].size() > widths[i]) widths[i] = line[i].size();
        }
    }
    std::vector<std::string> lines;
    for (const auto& line : cells) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) text += std::string(widths[i] - line[i].size() + 2, ' ');
        }
        lines.push_back(text);
    }
    return lines;
}

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

bool fleet_apply_event(FleetRow* row, const std::string& line) {
    Json e = Json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object()) return false;
    std::string name = text_of(e, "event");
    if (name.empty()) return false;
    if (row->state == FleetState::VERIFIED || row->state == FleetState::FAILED) return true;
    if (name == "start") {
        row->state = FleetState::CONNECTING;
    } else if (name == "status") {
        row->product = printable(text_of(e, "product_name"));
        row->before = printable(text_of(e, "software_version"));
    } else if (name == "listening") {
        row->state = FleetState::WAITING_REQUEST;
    } else if (name == "request") {
        row->state = FleetState::UPLOADING;
        row->percent = 0;
    } else if (name == "upload") {
        long total = number_of(e, "total");
        long bytes = number_of(e, "bytes");
        row->state = FleetState::UPLOADING;
        row->percent = total > 0 && bytes >= 0 && bytes <= total
                           ? static_cast<int>(bytes * 100 / total) : 0;
    } else if (name == "uploaded") {
        row->state = FleetState::FLASHING;
        row->seconds_left = -1;
    } else if (name == "flash-wait") {
        row->state = FleetState::FLASHING;
        row->seconds_left = static_cast<int>(number_of(e, "seconds_left"));
    } else if (name == "verify") {
        row->state = FleetState::VERIFYING;
        row->attempt = static_cast<int>(number_of(e, "attempt"));
    } else if (name == "result") {
        row->has_result = true;
        bool verified = text_of(e, "result") == "verified";
        row->state = verified ? FleetState::VERIFIED : FleetState::FAILED;
        row->reason = verified ? "" : printable(text_of(e, "text"));
        if (!text_of(e, "version_before").empty()) row->before = printable(text_of(e, "version_before"));
        row->after = printable(text_of(e, "version_after"));
    }
    return true;
}

void fleet_child_ended(FleetRow* row, const FleetChildEnd& end, std::int64_t now_ms) {
    row->ended_ms = now_ms;
    bool clean = end.exited && end.code == 0;
    if (row->state == FleetState::VERIFIED && clean && end.why.empty()) return;
    std::string what;
    if (!end.why.empty()) what = end.why;
    if (row->state == FleetState::VERIFIED) {
        // The device reported the version, but the process did not end as a verified run does.
        if (what.empty()) what = "verified, but then " + end_text(end);
    } else if (row->has_result) {
        what = what.empty() ? row->reason : what + "; " + row->reason;
    } else {
        std::string ended = end_text(end);
        if (!end.stderr_tail.empty()) ended += ": " + printable(end.stderr_tail);
        what = what.empty() ? ended : what + "; " + ended;
    }
    row->state = FleetState::FAILED;
    row->reason = what;
}

std::string fleet_state_text(const FleetRow& row) {
    switch (row.state) {
        case FleetState::QUEUED: return "queued";
        case FleetState::CONNECTING: return "connecting";
        case FleetState::WAITING_REQUEST: return "waiting for the request";
        case FleetState::UPLOADING: return "uploading " + std::to_string(row.percent) + "%";
        case FleetState::FLASHING:
            return row.seconds_left < 0 ? "flashing"
                                        : "flashing, " + std::to_string(row.seconds_left) + " s left";
        case FleetState::VERIFYING:
            return row.attempt > 1 ? "verifying (attempt " + std::to_string(row.attempt) + ")"
                                   : "verifying";
        case FleetState::VERIFIED: return "verified";
        case FleetState::FAILED: return "failed: " + row.reason;
    }
    return "";
}

std::vector<std::string> fleet_table_lines(const std::vector<FleetRow>& rows) {
    std::vector<std::vector<std::string>> cells{{"ADDRESS", "PRODUCT", "BEFORE", "AFTER", "STATE"}};
    for (const FleetRow& row : rows) {
        cells.push_back({row.address, or_dash(row.product), or_dash(row.before),
                         or_dash(row.after), fleet_state_text(row)});
    }
    return columns(cells);
}

std::string fleet_summary(const std::vector<FleetRow>& rows) {
    std::vector<std::vector<std::string>> cells{
        {"ADDRESS", "PRODUCT", "BEFORE", "AFTER", "TIME", "RESULT"}};
    int verified = 0;
    for (const FleetRow& row : rows) {
        if (row.state == FleetState::VERIFIED) ++verified;
        std::string time = row.started_ms >= 0 && row.ended_ms >= row.started_ms
                               ? seconds_text(row.ended_ms - row.started_ms) : "-";
        cells.push_back({row.address, or_dash(row.product), or_dash(row.before),
                         or_dash(row.after), time,
                         row.state == FleetState::VERIFIED ? "verified" : fleet_state_text(row)});
    }
    std::string text;
    for (const std::string& line : columns(cells)) text += line + "\n";
    text += std::to_string(verified) + " of " + std::to_string(rows.size()) + " devices verified\n";
    return text;
}
