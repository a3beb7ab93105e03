// The children of a run over several devices as the fleet's run sees them: one process of this
// same program per row, started, cancelled, killed and read through platform/child_process.h, on
// either system; what they write and their ends go back to the run. And the run's clock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_run.h"
#include "platform/child_process.h"

// The system's steady clock, in milliseconds.
class FleetSystemClock final : public FleetClock {
public:
    std::int64_t now_ms() override;
};

class FleetProcesses final : public FleetChildren, private ChildReceiver {
public:
    FleetProcesses(std::string program, std::size_t rows) : program_(std::move(program)), child_of_(rows, -1) {}

    void attach(FleetRun* run) { run_ = run; }

    bool start(std::size_t row, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, std::string* problem) override;
    void cancel(std::size_t row) override;
    void kill(std::size_t row) override;

    // Waits at most timeout_ms for what the children do and hands it to the run.
    void wait(int timeout_ms) { set_.wait(timeout_ms, *this); }

private:
    void output_line(int id, ChildStream stream, const std::string& line) override;
    void process_ended(int id, bool exited, int code) override;

    std::string program_;
    ChildSet set_;
    FleetRun* run_ = nullptr;
    std::vector<int> child_of_;         // the child id of each row (its latest), -1: none yet
    std::vector<std::size_t> row_of_;  // the row of each child id
};
