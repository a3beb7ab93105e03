// The counts, the time left and the head line of a run over several devices.
#include "fleet/fleet_progress.h"

#include <algorithm>

namespace {

constexpr std::int64_t MINUTE_MS = 60'000;

bool started(const FleetRow& row) { return row.started_ms >= 0; }

}  // namespace

FleetCounts fleet_counts(const std::vector<FleetRow>& rows) {
    FleetCounts counts;
    counts.total = static_cast<int>(rows.size());
    for (const FleetRow& row : rows) {
        switch (row.state) {
            case FleetState::QUEUED: ++counts.queued; break;
            case FleetState::VERIFIED: ++counts.verified; break;
            case FleetState::CURRENT: ++counts.current; break;
            case FleetState::NEEDS_UPGRADE: ++counts.needs_upgrade; break;
            case FleetState::OTHER_MODEL: ++counts.other_model; break;
            case FleetState::FAILED: ++counts.failed; break;
            case FleetState::NOT_STARTED: ++counts.not_started; break;
            default: ++counts.running; break;
        }
    }
    counts.done = counts.total - counts.queued - counts.running;
    return counts;
}

std::int64_t fleet_eta_ms(const std::vector<FleetRow>& rows, int jobs, std::int64_t now_ms) {
    std::int64_t spent = 0;
    int finished = 0;
    int queued = 0;
    std::int64_t running_left = 0;  // the longest a running device still needs, on the mean
    for (const FleetRow& row : rows) {
        if (row.state == FleetState::QUEUED) ++queued;
        if (started(row) && row.ended_ms >= row.started_ms) {
            spent += row.ended_ms - row.started_ms;
            ++finished;
        }
    }
    if (finished == 0 || jobs < 1) return -1;
    std::int64_t mean = spent / finished;
    bool any_running = false;
    for (const FleetRow& row : rows) {
        if (!started(row) || fleet_row_ended(row)) continue;
        any_running = true;
        std::int64_t left = mean - (now_ms - row.started_ms);
        // A device that tells its own time left (its flash) needs at least that.
        if (row.state == FleetState::FLASHING && row.seconds_left >= 0) {
            left = std::max<std::int64_t>(left, row.seconds_left * std::int64_t{1000});
        }
        // One running past the others' mean, with nothing better to go by: no estimate beats a
        // wrong one.
        if (left <= 0) return -1;
        running_left = std::max(running_left, left);
    }
    if (queued == 0 && !any_running) return -1;
    std::int64_t waves = (queued + jobs - 1) / jobs;
    return running_left + waves * mean;
}

std::string fleet_clock_text(std::int64_t ms) {
    std::int64_t s = ms < 0 ? 0 : ms / 1000;
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    }
    return text;
}

std::string fleet_eta_text(std::int64_t eta_ms) {
    if (eta_ms < 0) return "";
    if (eta_ms < 1000) return "about 1 s left";
    if (eta_ms < MINUTE_MS) return "about " + std::to_string((eta_ms + 999) / 1000) + " s left";
    return "about " + std::to_string((eta_ms + MINUTE_MS / 2) / MINUTE_MS) + " min left";
}

std::string fleet_head_line(const std::vector<FleetRow>& rows, int jobs, std::int64_t started_ms,
                            std::int64_t now_ms) {
    FleetCounts c = fleet_counts(rows);
    std::string line = std::to_string(c.done) + " of " + std::to_string(c.total) + " done: ";
    std::string parts;
    auto part = [&parts](int count, const char* what) {
        if (count == 0) return;
        parts += (parts.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    };
    part(c.verified, "verified");
    part(c.current, "current");
    part(c.needs_upgrade, "need the upgrade");
    part(c.other_model, "other model");
    part(c.failed, "failed");
    part(c.not_started, "not started");
    line += parts.empty() ? "none yet" : parts;
    if (c.running > 0) line += "; " + std::to_string(c.running) + " running";
    line += "; " + fleet_clock_text(now_ms - started_ms) + " elapsed";
    std::string eta = fleet_eta_text(fleet_eta_ms(rows, jobs, now_ms));
    if (!eta.empty()) line += ", " + eta;
    return line;
}
