// What a scan makes of its rows: which addresses did not answer, which answered as something other
// than a TEV (both only counted), which are the TEVs found; the head line that counts them, and
// the devices file of the TEVs found.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

enum class ScanAnswer {
    PENDING,  // not asked yet, or its child runs
    SILENT,   // no connection, or no answer
    OTHER,    // answered, but not as a TEV
    TEV,      // a TEV: its check's result, a failure (a wrong password) included
    NOT_ASKED,  // the scan stopped before its turn
};

ScanAnswer scan_answer(const FleetRow& row);

struct ScanCounts {
    std::size_t addresses = 0;
    std::size_t asked = 0;  // ended, whatever they answered
    std::size_t found = 0;
    std::size_t silent = 0;
    std::size_t other = 0;
    std::size_t not_asked = 0;
};

ScanCounts scan_counts(const std::vector<FleetRow>& rows);

// "254 addresses: 120 asked, 3 TEVs found, 116 silent, 1 not a TEV; 0:03 elapsed".
std::string scan_head_line(const ScanCounts& counts, std::int64_t elapsed_ms);

// The rows of the TEVs found, in the range's order.
std::vector<FleetRow> scan_found_rows(const std::vector<FleetRow>& rows);

// A devices file (--devices) of the TEVs found: a comment line naming the range, then each one's
// address and its label, the product and serial it reported.
std::string scan_devices_text(const std::vector<FleetRow>& rows, const std::string& range);
