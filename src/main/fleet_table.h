// One row per device of a run over several devices: what its upgrade's event lines and its
// process's end say, and the texts of the live table and of the summary.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class FleetState {
    QUEUED,           // not started yet (--jobs)
    CONNECTING,       // reading the status page, ordering the upgrade
    WAITING_REQUEST,  // listening for the device's read request
    UPLOADING,        // percent
    FLASHING,         // seconds_left (-1: not told yet)
    VERIFYING,        // attempt
    VERIFIED,
    FAILED,  // reason
};

struct FleetRow {
    std::string address;
    std::string product;  // the device's product name, as its status page gave it
    std::string before;   // its version before the upgrade
    std::string after;    // its version after, as read at the verification
    FleetState state = FleetState::QUEUED;
    int percent = 0;
    int seconds_left = -1;
    int attempt = 0;
    bool has_result = false;  // a result event came; reason holds a failure's text
    std::string reason;
    std::int64_t started_ms = -1;  // when its process started, on the run's clock
    std::int64_t ended_ms = -1;
};

// How the process of one device ended.
struct FleetChildEnd {
    bool exited;         // else killed by signal
    int code;            // the exit status or the signal
    std::string why;     // what the run did to it, if anything ("no end after 600 s"); else empty
    std::string stderr_tail;  // the last line it wrote on standard error, if any
};

// Applies one event line. False when the line is no event (not a JSON object with "event"); the
// row is then unchanged.
bool fleet_apply_event(FleetRow* row, const std::string& line);

// The end of the device's process: verified only with a "verified" result and exit status 0;
// otherwise failed, with the result's text or what happened to the process.
void fleet_child_ended(FleetRow* row, const FleetChildEnd& end, std::int64_t now_ms);

// The state as the table shows it: "uploading 45%", "failed: Upgrade Failed: User Abort", ...
std::string fleet_state_text(const FleetRow& row);

// The live table: a header line, then one line per device, columns padded to the widest value.
std::vector<std::string> fleet_table_lines(const std::vector<FleetRow>& rows);

// The summary at the end: the columns address, product, before, after, result and time, then a
// count of verified devices.
std::string fleet_summary(const std::vector<FleetRow>& rows);
