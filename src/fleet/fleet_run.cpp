// One run over several devices: its steps, the rows kept across them, the report and the
// watchers.
#include "fleet/fleet_run.h"

#include <algorithm>

#include "fleet/fleet_progress.h"
#include "platform/file_replace.h"

FleetRun::FleetRun(FleetPlan plan, std::vector<std::string> inherited, FleetClock& clock,
                   FleetChildren& children)
    : plan_(std::move(plan)), inherited_(std::move(inherited)), clock_(clock), children_(children),
      step_started_ms_(clock.now_ms()) {
    for (const FleetDevice& device : plan_.devices) {
        FleetRow row;
        row.address = device.address;
        row.label = device.label;
        rows_.push_back(row);
    }
    recorded_ = rows_;
}

FleetRun::~FleetRun() = default;

bool FleetRun::open_report(std::string* problem) {
    if (!plan_.write_devices.empty() &&
        !file_replace(plan_.write_devices, scan_devices_text({}, plan_.scan_range), problem)) {
        return false;
    }
    if (plan_.report.empty()) return true;
    return fleet_report_write(plan_.report, recorded_, plan_.format, problem);
}

ScanCounts FleetRun::scan_counts_now() const {
    return scanning() ? scan_counts(rows_) : scan_counts_;
}

void FleetRun::start(const FleetStep& step) {
    step_ = step;
    step_started_ms_ = clock_.now_ms();
    step_ended_ms_ = -1;
    stopped_early_.clear();
    scheduler_ = std::make_unique<FleetScheduler>(plan_, step_,
                                                  fleet_child_environment(plan_, inherited_),
                                                  clock_, children_,
                                                  static_cast<FleetWatcher*>(this));
    // The step's rows start again from its own queued rows.
    for (std::size_t row : step_.rows) {
        FleetRow after = rows_[row];
        fleet_row_take(&after, scheduler_->rows()[row]);
        set(row, after);
    }
    scheduler_->step();
}

bool FleetRun::poll() {
    if (scheduler_ == nullptr) return false;
    scheduler_->step();
    if (!scheduler_->finished()) return false;
    stopped_early_ = scheduler_->stopped_early();
    step_ended_ms_ = clock_.now_ms();
    scheduler_.reset();
    if (step_.scan) keep_found();
    return true;
}

void FleetRun::child_output(std::size_t row, const std::string& line) {
    if (scheduler_ != nullptr) scheduler_->child_output(row, line);
}

void FleetRun::child_error(std::size_t row, const std::string& line) {
    if (scheduler_ != nullptr) scheduler_->child_error(row, line);
}

void FleetRun::child_ended(std::size_t row, bool exited, int code) {
    if (scheduler_ != nullptr) scheduler_->child_ended(row, exited, code);
}

void FleetRun::interrupt(const std::string& why) {
    if (scheduler_ != nullptr) scheduler_->interrupt(why);
}

void FleetRun::set_credentials(const std::string& user, const std::string& password) {
    plan_.user = user;
    plan_.has_password = true;
    plan_.password = password;
}

int FleetRun::exit_status() const {
    if (!report_problem_.empty()) return 1;
    // An address a scan did not ask (Ctrl-C) may have been a TEV: not done.
    if (scan_counts_.not_asked > 0) return 1;
    return fleet_exit_status(rows_);
}

std::int64_t FleetRun::elapsed_ms() const {
    std::int64_t end = step_ended_ms_ >= 0 ? step_ended_ms_ : clock_.now_ms();
    return end - step_started_ms_;
}

std::string FleetRun::head_line() const {
    if (plan_.scan && step_.scan) {
        std::string line = scan_head_line(scan_counts_now(), elapsed_ms());
        if (!report_problem_.empty()) line += "; the report was not written: " + report_problem_;
        return line;
    }
    // The time left is the step's: the times of rows an earlier step ran stay out of it.
    std::vector<FleetRow> timed = rows_;
    for (std::size_t i = 0; i < timed.size(); ++i) {
        if (std::find(step_.rows.begin(), step_.rows.end(), i) == step_.rows.end()) {
            timed[i].started_ms = -1;
        }
    }
    std::string line = fleet_head_line(timed, plan_.jobs, step_started_ms_,
                                       step_started_ms_ + elapsed_ms());
    if (!report_problem_.empty()) line += "; the report was not written: " + report_problem_;
    return line;
}

bool FleetRun::save_report(const std::string& path, FleetReportFormat format,
                           std::string* problem) const {
    return fleet_report_write(path, recorded_, format, problem);
}

void FleetRun::row_changed(std::size_t row, const FleetRow&, const FleetRow& after) {
    FleetRow taken = rows_[row];
    fleet_row_take(&taken, after);
    set(row, taken);
}

void FleetRun::set(std::size_t row, const FleetRow& after) {
    FleetRow before = rows_[row];
    rows_[row] = after;
    // The report after each device's end, before the watchers hear of it (they may tell that it
    // could not be written); a row running again keeps its last end in it.
    if (!fleet_row_finished(before) && fleet_row_finished(after)) {
        recorded_[row] = after;
        // A scan's silent addresses are in neither file: nothing to write for them.
        if (!scanning() || scan_answer(after) == ScanAnswer::TEV) {
            write_report();
            write_devices();
        }
    }
    for (FleetRunWatcher* watcher : watchers_) watcher->row_changed(row, before, after);
}

void FleetRun::write_report() {
    if (plan_.report.empty()) return;
    std::string problem;
    const std::vector<FleetRow>& rows = scanning() ? scan_found_rows(recorded_) : recorded_;
    if (!fleet_report_write(plan_.report, rows, plan_.format, &problem) &&
        report_problem_.empty()) {
        report_problem_ = problem;
    }
}

void FleetRun::write_devices() {
    if (plan_.write_devices.empty() || !step_.scan) return;
    std::string problem;
    if (!file_replace(plan_.write_devices, scan_devices_text(recorded_, plan_.scan_range),
                      &problem) &&
        report_problem_.empty()) {
        report_problem_ = problem;
    }
}

// The scan's end: the run goes on with the TEVs found alone, the addresses that were silent or
// no TEV counted.
void FleetRun::keep_found() {
    scan_counts_ = scan_counts(rows_);
    std::vector<FleetDevice> devices;
    std::vector<FleetRow> rows;
    std::vector<FleetRow> recorded;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (scan_answer(rows_[i]) != ScanAnswer::TEV) continue;
        devices.push_back(plan_.devices[i]);
        rows.push_back(rows_[i]);
        recorded.push_back(recorded_[i]);
    }
    plan_.devices = std::move(devices);
    rows_ = std::move(rows);
    recorded_ = std::move(recorded);
    step_.rows.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i) step_.rows.push_back(i);
    for (FleetRunWatcher* watcher : watchers_) watcher->rows_replaced();
}
