// One run over several devices, shared by both programs: the plan, its steps (a check, an
// upgrade, the failed ones again), the scheduler of the step that runs, the rows kept across the
// steps, the report rewritten after every device's end, and the watchers told of every change
// (the console's table, the list window). The caller gives the clock and the children and hands
// back what the children do; nothing here waits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fleet/fleet_plan.h"
#include "fleet/fleet_row.h"
#include "fleet/fleet_scan.h"
#include "fleet/fleet_scheduler.h"

// Told of every change of a row of the run.
class FleetRunWatcher {
public:
    virtual void row_changed(std::size_t row, const FleetRow& before, const FleetRow& after) = 0;
    // A scan ended: the rows are now the TEVs found, numbered anew.
    virtual void rows_replaced() {}

protected:
    ~FleetRunWatcher() = default;
};

class FleetRun final : private FleetWatcher {
public:
    // inherited: this process's environment, which each child gets with the plan's additions.
    FleetRun(FleetPlan plan, std::vector<std::string> inherited, FleetClock& clock,
             FleetChildren& children);
    ~FleetRun();
    FleetRun(const FleetRun&) = delete;
    FleetRun& operator=(const FleetRun&) = delete;

    void watch(FleetRunWatcher* watcher) { watchers_.push_back(watcher); }

    // The report the plan asks for, and a scan's devices file, written before anything is sent (no
    // device in them yet): false with *problem when one cannot be, and nothing may start.
    bool open_report(std::string* problem);

    // Starts a step (none may be running) and the first of its children.
    void start(const FleetStep& step);
    bool running() const { return scheduler_ != nullptr; }
    // A scan's step runs: its rows are addresses, most of them silent.
    bool scanning() const { return running() && step_.scan; }
    // A scan's counts: as it goes while it runs, then as it ended.
    ScanCounts scan_counts_now() const;
    // Starts what may start and polices the deadlines; call it after each change handed in and at
    // least every few hundred milliseconds. True once, when the running step has just ended; after
    // a scan the rows are then the TEVs found (rows_replaced).
    bool poll();
    // What a row's child did (see FleetScheduler); ignored when no step runs.
    void child_output(std::size_t row, const std::string& line);
    void child_error(std::size_t row, const std::string& line);
    void child_ended(std::size_t row, bool exited, int code);
    // Ctrl-C or Stop: the first asks every child to stop and starts no other; the next kills them.
    void interrupt(const std::string& why);
    // The user and password the later children get (the password dialog's).
    void set_credentials(const std::string& user, const std::string& password);

    const FleetPlan& plan() const { return plan_; }
    const std::vector<FleetRow>& rows() const { return rows_; }
    const FleetStep& step() const { return step_; }
    // Why the last step stopped before every device had its turn; empty otherwise.
    const std::string& stopped_early() const { return stopped_early_; }
    // Why a rewrite of the report failed, the first time; empty while every one succeeded.
    const std::string& report_problem() const { return report_problem_; }
    // The one exit status rule (fleet_exit_status) over the rows (after a scan, the TEVs found), and
    // 1 when the report could not be written or a scan stopped before every address was asked.
    int exit_status() const;
    // From the last step's start to now, or to its end once it ended.
    std::int64_t elapsed_ms() const;
    // The head line of the last step ("3 of 8 done: ...; 0:31 elapsed, about 30 s left"), and
    // what became of the report when a rewrite failed.
    std::string head_line() const;
    // The rows as last finished written to a file of the user's choosing.
    bool save_report(const std::string& path, FleetReportFormat format,
                     std::string* problem) const;

private:
    void row_changed(std::size_t row, const FleetRow& before, const FleetRow& after) override;
    void set(std::size_t row, const FleetRow& after);
    void write_report();
    void write_devices();
    void keep_found();

    FleetPlan plan_;
    std::vector<std::string> inherited_;
    FleetClock& clock_;
    FleetChildren& children_;
    std::vector<FleetRunWatcher*> watchers_;
    std::vector<FleetRow> rows_;
    std::vector<FleetRow> recorded_;  // each row as its last step ended: what the report holds
    std::unique_ptr<FleetScheduler> scheduler_;
    FleetStep step_;
    std::string stopped_early_;
    std::string report_problem_;
    ScanCounts scan_counts_;  // as the scan ended
    std::int64_t step_started_ms_;
    std::int64_t step_ended_ms_ = -1;
};
