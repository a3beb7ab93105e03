// Which failures are tried again, after how long, and the row of a new attempt.
#include "fleet/fleet_retry.h"

namespace {

// A wait longer than this would pass any deadline: the doubling stops here.
constexpr std::int64_t LONGEST_WAIT_MS = std::int64_t{24} * 3600 * 1000;

}  // namespace

bool fleet_row_retryable(const FleetRow& row, const FleetChildEnd& end) {
    if (row.state != FleetState::FAILED || !row.has_result || end.cancelled) return false;
    // The child told its failure and ended as a failure does; anything else may have been a
    // crash in the middle of anything.
    if (!end.exited || end.code != 1 || row.image_sent) return false;
    if (row.reason == NO_ANSWER_TEXT) return !row.command_taken;
    return row.reason == UPLOAD_INCOMPLETE_TEXT;
}

std::int64_t fleet_retry_wait_ms(std::int64_t first_wait_ms, int attempts) {
    std::int64_t wait = first_wait_ms;
    for (int i = 1; i < attempts && wait < LONGEST_WAIT_MS; ++i) wait *= 2;
    return wait < LONGEST_WAIT_MS ? wait : LONGEST_WAIT_MS;
}

void fleet_row_wait_retry(FleetRow* row, std::int64_t wait_ms) {
    row->state = FleetState::RETRY_WAIT;
    row->ended_ms = -1;
    row->retry_in_s = static_cast<int>((wait_ms + 999) / 1000);
}

void fleet_row_restart(FleetRow* row) {
    FleetRow fresh;
    fresh.address = row->address;
    fresh.label = row->label;
    fresh.product = row->product;
    fresh.mac = row->mac;
    fresh.serial = row->serial;
    fresh.hardware = row->hardware;
    fresh.before = row->before;
    fresh.image = row->image;
    fresh.started_ms = row->started_ms;
    fresh.attempts = row->attempts;
    fresh.attempts_allowed = row->attempts_allowed;
    *row = fresh;
}
