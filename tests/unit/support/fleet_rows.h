// A device's row of a run over several devices in a given state, for the tests of what the run
// shows and leaves.
#pragma once

#include <cstdint>
#include <string>

#include "fleet/fleet_row.h"

inline FleetRow row_of(const std::string& address, FleetState state, std::int64_t started = -1,
                       std::int64_t ended = -1) {
    FleetRow row;
    row.address = address;
    row.state = state;
    row.started_ms = started;
    row.ended_ms = ended;
    return row;
}
