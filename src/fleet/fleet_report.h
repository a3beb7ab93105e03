// The report of a run over several devices (--report FILE): one record per device, as CSV
// (RFC 4180, a header line) or a JSON array, rewritten whole after every device's end so that a
// run killed at any moment leaves a whole report of the devices finished so far.
#pragma once
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

enum class FleetReportFormat { CSV, JSON };

// The format a file name asks for: ".csv" or ".json" in any letter case. False for another.
bool fleet_report_format(const std::string& path, FleetReportFormat* format);

// The fields, in their order: address, label, product, mac, serial, hardware, version_before,
// version_after, result, reason, image (the one it got or would get: "TEV-4400 3.2.9(b)"),
// seconds (from its first attempt's start to its end), seconds_status, seconds_transfer,
// seconds_flash (its last attempt's phases; empty when one did not happen) and attempts (its
// children: 1 + its retries). Rows not finished yet are left out.
std::string fleet_report_text(const std::vector<FleetRow>& rows, FleetReportFormat format);

// A CSV cell: a text a spreadsheet would run as a formula (starting with =, +, -, @, a tab or a
// carriage return) gets a leading "'"; a cell with a comma, a quote or a line break is quoted.
std::string csv_cell(const std::string& text);

// Writes the report beside the file, then renames it over the file. False with *problem.
bool fleet_report_write(const std::string& path, const std::vector<FleetRow>& rows,
                        FleetReportFormat format, std::string* problem);
