// How far a run over several devices has got: the counts, the time left, and the head line both
// front ends show ("12 of 50 done: 10 verified, 1 current, 1 failed; 8 running; 1:05 elapsed,
// about 2 min left").
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_row.h"

struct FleetCounts {
    int total = 0;
    int done = 0;  // ended, not-started ones included
    int verified = 0;
    int current = 0;
    int needs_upgrade = 0;
    int other_model = 0;
    int failed = 0;
    int not_started = 0;
    int running = 0;  // started, not ended
    int queued = 0;
};

FleetCounts fleet_counts(const std::vector<FleetRow>& rows);

// The milliseconds still to go, from the finished devices' mean time and the waves left at `jobs`
// at a time, and never less than a flashing device's own time left; -1 before the first device
// ends, once nothing is left, or while a device runs past the mean with no time of its own.
std::int64_t fleet_eta_ms(const std::vector<FleetRow>& rows, int jobs, std::int64_t now_ms);

// "1:05" (minutes and seconds), "1:02:05" past an hour.
std::string fleet_clock_text(std::int64_t ms);
// "about 40 s left", "about 2 min left"; empty for -1.
std::string fleet_eta_text(std::int64_t eta_ms);

// The head line; elapsed from the run's start.
std::string fleet_head_line(const std::vector<FleetRow>& rows, int jobs, std::int64_t started_ms,
                            std::int64_t now_ms);
