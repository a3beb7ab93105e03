// The console's table and summary of a run over several devices, drawn from the fleet's rows.
#include "main/fleet_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fleet/fleet_plan.h"
#include "fleet/fleet_progress.h"

namespace {

using Cells = std::vector<std::vector<std::string>>;

std::string seconds_text(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    return text;
}

// Columns padded to the widest cell of each; the last one as it is.
std::vector<std::string> columns(const Cells& cells) {
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

bool any_label(const std::vector<FleetRow>& rows) {
    for (const FleetRow& row : rows) {
        if (!row.label.empty()) return true;
    }
    return false;
}

// The cells every line starts with: the address, the label when the list has any, the product,
// the versions and the image it got or would get.
std::vector<std::string> leading_cells(const FleetRow& row, bool labels) {
    std::vector<std::string> cells{row.address};
    if (labels) cells.push_back(or_dash(row.label));
    cells.insert(cells.end(), {or_dash(row.product), or_dash(row.before), or_dash(row.after),
                               or_dash(row.image)});
    return cells;
}

std::vector<std::string> heading(bool labels, std::vector<std::string> last) {
    std::vector<std::string> cells{"ADDRESS"};
    if (labels) cells.push_back("LABEL");
    cells.insert(cells.end(), {"PRODUCT", "BEFORE", "AFTER", "IMAGE"});
    cells.insert(cells.end(), last.begin(), last.end());
    return cells;
}

// Which rows a short window keeps first: 0 failed (never hidden while the window has room for
// them), 1 running, 2 queued or not started, 3 ended well.
int rank(const FleetRow& row) {
    if (row.state == FleetState::FAILED) return 0;
    if (row.state == FleetState::QUEUED || row.state == FleetState::NOT_STARTED) return 2;
    return fleet_row_ended(row) ? 3 : 1;
}

std::string cut(std::string line, std::size_t width) {
    if (width > 0 && line.size() >= width) line.resize(width - 1);
    return line;
}

// A POSIX shell word: as it is when it holds nothing the shell reads, else in single quotes.
std::string shell_word(const std::string& text) {
    if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "0123456789-_./=:,+@%") == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

constexpr const char* RETRY_MARK = "-retry";

// --report, or a start of it that the command line takes for it, before a value or '='.
bool names_report(const std::string& argument) {
    if (argument.compare(0, 3, "--r") != 0) return false;
    std::string name = argument.substr(2, argument.find('=') - 2);
    return std::string("report").compare(0, name.size(), name) == 0;
}

std::string count_line(const std::vector<FleetRow>& rows, const FleetSummaryFacts& facts) {
    FleetCounts c = fleet_counts(rows);
    std::string line = facts.check
                           ? std::to_string(c.current) + " of " + std::to_string(c.total) +
                                 " devices current"
                           : std::to_string(c.verified) + " of " + std::to_string(c.total) +
                                 " devices verified";
    auto part = [&line](int count, const char* what) {
        if (count > 0) line += ", " + std::to_string(count) + " " + what;
    };
    if (!facts.check) part(c.current, "already current");
    part(c.needs_upgrade, "need the upgrade");
    part(c.failed, "failed");
    part(c.not_started, "not started");
    part(c.other_model, facts.check ? "of another model"
                        : c.other_model == 1 ? "left alone for its model"
                                             : "left alone for their model");
    return line + "; total time " + fleet_clock_text(facts.total_ms) + "\n";
}

}  // namespace

std::vector<std::string> fleet_table_lines(const std::vector<FleetRow>& rows,
                                           const std::string& head_line, std::size_t width,
                                           std::size_t height) {
    bool labels = any_label(rows);
    Cells cells{heading(labels, {"STATE"})};
    for (const FleetRow& row : rows) {
        cells.push_back(leading_cells(row, labels));
        cells.back().push_back(fleet_state_text(row));
    }
    std::vector<std::string> table = columns(cells);
    std::vector<std::string> lines{cut(head_line, width), cut(table[0], width)};
    std::size_t room = height > 3 ? height - 3 : 1;  // the head, the names, the count of the rest
    if (rows.size() <= room + 1) room = rows.size();
    std::vector<bool> shown(rows.size(), false);
    std::size_t taken = 0;
    for (int level = 0; level <= 3; ++level) {
        for (std::size_t i = 0; i < rows.size() && taken < room; ++i) {
            if (rank(rows[i]) == level) {
                shown[i] = true;
                ++taken;
            }
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (shown[i]) lines.push_back(cut(table[i + 1], width));
    }
    if (taken < rows.size()) {
        int failed = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!shown[i] && rows[i].state == FleetState::FAILED) ++failed;
        }
        std::string more = "... and " + std::to_string(rows.size() - taken) + " more";
        if (failed > 0) more += ", " + std::to_string(failed) + " of them failed";
        lines.push_back(cut(more, width));
    }
    return lines;
}

std::string fleet_summary(const std::vector<FleetRow>& rows, const FleetSummaryFacts& facts) {
    bool labels = any_label(rows);
    Cells cells{heading(labels, {"TIME", "RESULT"})};
    std::vector<const FleetRow*> failed;
    for (const FleetRow& row : rows) {
        std::string time = row.started_ms >= 0 && row.ended_ms >= row.started_ms
                               ? seconds_text(row.ended_ms - row.started_ms) : "-";
        std::string result = row.state == FleetState::FAILED ? "failed: " + row.reason
                                                              : fleet_state_text(row);
        cells.push_back(leading_cells(row, labels));
        cells.back().insert(cells.back().end(), {time, result});
        if (row.state == FleetState::FAILED) failed.push_back(&row);
    }
    std::string text;
    for (const std::string& line : columns(cells)) text += line + "\n";
    text += count_line(rows, facts);
    if (!facts.stopped_early.empty()) text += "Stopped early: " + facts.stopped_early + "\n";
    if (!facts.report_problem.empty()) {
        text += "The report is not whole: " + facts.report_problem + "\n";
    }
    if (!failed.empty() && !facts.log_dir.empty()) {
        text += "Logs of the failed devices:\n";
        for (const FleetRow* row : failed) {
            text += "  " + facts.log_dir + "/" + fleet_log_name(row->address, row->attempts) + "\n";
        }
    }
    bool to_retry = !failed.empty() || !facts.stopped_early.empty() ||
                    !facts.report_problem.empty();
    if (to_retry && !facts.retry_command.empty()) {
        text += "To retry the devices not done, run:\n  " + facts.retry_command + "\n";
    }
    return text;
}

std::string fleet_retry_command(int count, const char* const* arguments) {
    std::string command;
    bool skipping = false;
    for (int i = 0; i < count; ++i) {
        std::string argument = arguments[i];
        if (argument == "--skip-current") skipping = true;
        if (names_report(argument) && argument.find('=') == std::string::npos && i + 1 < count) {
            command += " " + shell_word(argument) + " " + shell_word(fleet_retry_report(arguments[++i]));
            continue;
        }
        if (names_report(argument)) {
            std::size_t equals = argument.find('=');
            argument = argument.substr(0, equals + 1) + fleet_retry_report(argument.substr(equals + 1));
        }
        command += (i > 0 ? " " : "") + shell_word(argument);
    }
    if (!skipping) command += " --skip-current";
    return command;
}

std::string fleet_retry_report(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    std::string stem = path.substr(0, dot);
    std::string ending = path.substr(dot);
    int count = 1;
    std::size_t mark = stem.rfind(RETRY_MARK);
    if (mark != std::string::npos && mark + std::strlen(RETRY_MARK) < stem.size() &&
        stem.find_first_not_of("0123456789", mark + std::strlen(RETRY_MARK)) == std::string::npos) {
        long before = std::strtol(stem.c_str() + mark + std::strlen(RETRY_MARK), nullptr, 10);
        count = before > 0 && before < 1'000'000 ? static_cast<int>(before) + 1 : 1;
        stem.resize(mark);
    }
    return stem + RETRY_MARK + std::to_string(count) + ending;
}
