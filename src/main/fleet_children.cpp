// The run's children as processes, a map between rows and child ids both ways, and its clock.
#include "main/fleet_children.h"

#include <chrono>

std::int64_t FleetSystemClock::now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool FleetProcesses::start(std::size_t row, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, std::string* problem) {
    int id = set_.start(program_, arguments, environment, problem);
    if (id < 0) return false;
    child_of_[row] = id;
    if (row_of_.size() <= static_cast<std::size_t>(id)) row_of_.resize(id + 1);
    row_of_[id] = row;
    return true;
}

void FleetProcesses::cancel(std::size_t row) { set_.cancel(child_of_[row]); }

void FleetProcesses::kill(std::size_t row) { set_.kill(child_of_[row]); }

void FleetProcesses::output_line(int id, ChildStream stream, const std::string& line) {
    if (stream == ChildStream::OUTPUT) run_->child_output(row_of_[id], line);
    else run_->child_error(row_of_[id], line);
}

void FleetProcesses::process_ended(int id, bool exited, int code) {
    run_->child_ended(row_of_[id], exited, code);
}
