// The console's view of a run over several devices: the live table (a head line, then the rows
// that matter most when they do not all fit) and the summary at the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

// The table's lines for a window of width x height characters: the head line, the column names,
// then rows; when they do not fit, running and failed rows before queued ones, those before the
// ended well, in list order within each, and a last line counting the rows left out.
std::vector<std::string> fleet_table_lines(const std::vector<FleetRow>& rows,
                                           const std::string& head_line, std::size_t width,
                                           std::size_t height);

// What the summary tells besides the rows.
struct FleetSummaryFacts {
    bool check = false;  // an inventory: counts devices current rather than verified
    std::int64_t total_ms = 0;
    std::string stopped_early;  // why the run stopped before every device had its turn
    std::string log_dir;        // empty: no logs were kept
    std::string retry_command;  // empty: none to show
    std::string report_problem;  // why a rewrite of the report failed; empty: none did
};

// The summary: a line per device with its full reason, the counts and the total time, why the run
// stopped early, a report that could not be written, then the logs of the failed devices and the
// command that retries them.
std::string fleet_summary(const std::vector<FleetRow>& rows, const FleetSummaryFacts& facts);

// The command line again, each argument quoted for a POSIX shell where it needs it, with
// --skip-current added when it is not there, and its --report written beside the first one
// (fleet_retry_report) so that the retry keeps the record of what this run did.
std::string fleet_retry_command(int count, const char* const* arguments);
// The report of a retry: "site.csv" gives "site-retry1.csv", "site-retry1.csv" "site-retry2.csv".
std::string fleet_retry_report(const std::string& path);
