// The scheduler of a run over several devices: starts, polices and ends the children through the
// caller's FleetChildren, on the caller's clock.
#include "fleet/fleet_scheduler.h"

#include <algorithm>

#include "fleet/fleet_retry.h"

namespace {

constexpr std::size_t STDERR_LINE_LIMIT = 300;

std::string seconds(std::int64_t ms) { return std::to_string(ms / 1000) + " s"; }

}  // namespace

FleetScheduler::FleetScheduler(const FleetPlan& plan, FleetStep step,
                               std::vector<std::string> environment, FleetClock& clock,
                               FleetChildren& children, FleetWatcher* watcher)
    : plan_(plan), step_(std::move(step)), environment_(std::move(environment)), clock_(clock),
      children_(children), watcher_(watcher), child_(plan.devices.size()),
      started_ms_(clock.now_ms()) {
    for (const FleetDevice& device : plan.devices) {
        rows_.push_back(FleetRow{});
        rows_.back().address = device.address;
        rows_.back().label = device.label;
        rows_.back().attempts_allowed = 1 + plan.retries;
    }
}

void FleetScheduler::step() {
    std::int64_t now = clock_.now_ms();
    for (std::size_t i = 0; i < child_.size(); ++i) police(i, now);
    // A retry that is due goes before the devices still queued.
    for (std::size_t row : step_.rows) tick_wait(row, now);
    while (!stopped_ && next_ < step_.rows.size() && may_start_more()) start(step_.rows[next_++]);
}

bool FleetScheduler::may_start_more() const {
    if (running() >= plan_.jobs) return false;
    // The rest of the list waits for the canaries' ends.
    if (next_ >= static_cast<std::size_t>(step_.canary)) {
        bool all_ended = false;
        if (!canaries_ended_well(&all_ended) || !all_ended) return false;
    }
    return true;
}

// Whether no canary has failed so far; *all_ended once every one has ended.
bool FleetScheduler::canaries_ended_well(bool* all_ended) const {
    *all_ended = true;
    std::size_t count = std::min(step_.rows.size(), static_cast<std::size_t>(step_.canary));
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t row = step_.rows[i];
        // Its end is the child's end: a result may still be undone by the exit status.
        if (child_[row].running || !fleet_row_ended(rows_[row])) *all_ended = false;
        else if (!fleet_row_succeeded(rows_[row])) return false;
    }
    return true;
}

void FleetScheduler::start(std::size_t row) {
    FleetRow after = rows_[row];
    Child& child = child_[row];
    std::int64_t now = clock_.now_ms();
    // A retry keeps its first start: the report's time and the deadline cover every attempt.
    if (after.attempts == 0) {
        after.started_ms = now;
        child.first_started_ms = now;
    } else {
        fleet_row_restart(&after);
    }
    ++after.attempts;
    std::string problem;
    if (!children_.start(row, fleet_child_arguments(plan_, step_, row, after.attempts),
                         environment_, &problem)) {
        after.state = FleetState::FAILED;
        after.reason = "can't start its process: " + problem;
        after.ended_ms = now;
    } else {
        after.state = FleetState::CONNECTING;
        child.running = true;
        child.deadline_ms = child.first_started_ms + plan_.deadline_ms;
    }
    set(row, after);
    if (after.state == FleetState::FAILED) row_ended(row);
}

// A child past its deadline is asked to stop; one that does not within the grace is killed.
void FleetScheduler::police(std::size_t row, std::int64_t now) {
    Child& child = child_[row];
    if (!child.running) return;
    if (child.kill_ms < 0 && now >= child.deadline_ms) {
        cancel(row, "passed its deadline of " + seconds(plan_.deadline_ms));
    } else if (child.kill_ms >= 0 && now >= child.kill_ms) {
        children_.kill(row);
        child.kill_ms = now + plan_.grace_ms;
    }
}

void FleetScheduler::cancel(std::size_t row, const std::string& why) {
    Child& child = child_[row];
    if (!child.running || child.kill_ms >= 0) return;
    if (child.why.empty()) child.why = why;
    child.cancelled = true;
    children_.cancel(row);
    child.kill_ms = clock_.now_ms() + plan_.grace_ms;
}

void FleetScheduler::child_output(std::size_t row, const std::string& line) {
    if (!child_[row].running) return;
    FleetRow after = rows_[row];
    if (fleet_apply_event(&after, line)) set(row, after);
}

void FleetScheduler::child_error(std::size_t row, const std::string& line) {
    if (!line.empty()) child_[row].errors_last = line.substr(0, STDERR_LINE_LIMIT);
}

void FleetScheduler::child_ended(std::size_t row, bool exited, int code) {
    Child& child = child_[row];
    if (!child.running) return;
    child.running = false;
    FleetRow after = rows_[row];
    FleetChildEnd end{exited, code, child.why, child.errors_last, child.cancelled};
    fleet_child_ended(&after, end, clock_.now_ms());
    bool waits = retry_later(row, &after, end);
    set(row, after);
    if (!waits) row_ended(row);
}

// A failure another attempt may mend waits for it, while the run still starts devices, the
// device has attempts left and the wait ends within its deadline; the canary and the failure
// budget hear of the device only once it has ended.
bool FleetScheduler::retry_later(std::size_t row, FleetRow* after, const FleetChildEnd& end) {
    // A scan asks each address once: a silent one is no failure to mend.
    if (stopped_ || step_.scan || after->attempts >= after->attempts_allowed) return false;
    if (!fleet_row_retryable(*after, end)) return false;
    std::int64_t now = clock_.now_ms();
    std::int64_t wait = fleet_retry_wait_ms(plan_.retry_wait_ms, after->attempts);
    if (now + wait >= child_[row].first_started_ms + plan_.deadline_ms) return false;
    fleet_row_wait_retry(after, wait);
    child_[row].retry_ms = now + wait;
    child_[row].errors_last.clear();
    return true;
}

// A waiting row counts its seconds down and starts when due and a job is free.
void FleetScheduler::tick_wait(std::size_t row, std::int64_t now) {
    if (rows_[row].state != FleetState::RETRY_WAIT) return;
    std::int64_t left = child_[row].retry_ms - now;
    if (left <= 0 && running() < plan_.jobs) {
        start(row);
        return;
    }
    int seconds = left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
    if (seconds == rows_[row].retry_in_s) return;
    FleetRow after = rows_[row];
    after.retry_in_s = seconds;
    set(row, after);
}

// The run stops starting devices: a row waiting for its retry ends with its last failure.
void FleetScheduler::end_wait(std::size_t row) {
    FleetRow after = rows_[row];
    after.state = FleetState::FAILED;
    after.retry_in_s = -1;
    after.ended_ms = clock_.now_ms();
    set(row, after);
}

bool FleetScheduler::any_waiting() const {
    for (std::size_t row : step_.rows) {
        if (rows_[row].state == FleetState::RETRY_WAIT) return true;
    }
    return false;
}

// The failure budget and the canaries, after each device's end.
void FleetScheduler::row_ended(std::size_t row) {
    if (step_.max_failures > 0 && failures() >= step_.max_failures) {
        stop_starting(std::to_string(failures()) + " devices failed (--max-failures " +
                      std::to_string(step_.max_failures) + ")");
    }
    bool all_ended = false;
    if (is_canary(row) && !canaries_ended_well(&all_ended)) {
        // A canary of another model was sent nothing: it has not shown the image to be good.
        const char* ended = rows_[row].state == FleetState::OTHER_MODEL ? " is of another model"
                                                                         : " failed";
        stop_starting("the canary " + rows_[row].address + ended + " (--canary " +
                      std::to_string(step_.canary) + ")");
    }
}

void FleetScheduler::interrupt(const std::string& why) {
    ++interrupts_;
    stop_starting(why);
    for (std::size_t i = 0; i < child_.size(); ++i) {
        if (!child_[i].running) continue;
        if (interrupts_ > 1) {
            children_.kill(i);
        } else {
            cancel(i, "");
        }
    }
}

// Those running finish; the others do not start.
void FleetScheduler::stop_starting(const std::string& why) {
    if (stopped_) return;
    stopped_ = true;
    if (next_ < step_.rows.size()) stopped_early_ = why;
    not_started_why_ = why;
    close_unstarted();
}

void FleetScheduler::close_unstarted() {
    if (!stopped_) return;
    for (std::size_t row : step_.rows) {
        if (rows_[row].state == FleetState::RETRY_WAIT) end_wait(row);
    }
    for (std::size_t i = next_; i < step_.rows.size(); ++i) {
        std::size_t row = step_.rows[i];
        if (rows_[row].state != FleetState::QUEUED) continue;
        FleetRow after = rows_[row];
        after.state = FleetState::NOT_STARTED;
        after.reason = not_started_why_;
        set(row, after);
    }
    next_ = step_.rows.size();
}

bool FleetScheduler::finished() const {
    return running() == 0 && next_ >= step_.rows.size() && !any_waiting();
}

bool FleetScheduler::is_canary(std::size_t row) const {
    std::size_t count = std::min(step_.rows.size(), static_cast<std::size_t>(step_.canary));
    return std::find(step_.rows.begin(), step_.rows.begin() + static_cast<long>(count), row) !=
           step_.rows.begin() + static_cast<long>(count);
}

int FleetScheduler::running() const {
    int count = 0;
    for (const Child& child : child_) count += child.running ? 1 : 0;
    return count;
}

int FleetScheduler::failures() const {
    int count = 0;
    for (std::size_t row : step_.rows) count += rows_[row].state == FleetState::FAILED ? 1 : 0;
    return count;
}

void FleetScheduler::set(std::size_t row, const FleetRow& after) {
    FleetRow before = rows_[row];
    rows_[row] = after;
    if (watcher_ != nullptr) watcher_->row_changed(row, before, rows_[row]);
}
