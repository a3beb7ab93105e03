// The plan of a run over several devices from the command line.
#include "main/fleet_options.h"

#include <algorithm>

#include "main/named_files.h"
#include "main/run_options.h"
#include "platform/open_files.h"

namespace {

// Open files the parent needs besides two pipes per child: its standard streams, the wake pipe,
// the two pipes of a child being started, and room for the C library.
constexpr long PARENT_OWN_FILES = 16;

FleetOptions options_of(const CommandLine& line, FleetProgram program) {
    FleetOptions options;
    options.program = program;
    options.devices.assign(line.devices, line.devices + line.device_count);
    options.devices_path = line.devices_path;
    options.jobs = line.jobs;
    options.deadline = line.deadline;
    options.canary = line.canary;
    options.max_failures = line.max_failures;
    options.scan = line.scan;
    options.write_devices = line.write_devices;
    options.retries = line.retries;
    options.retry_wait = line.retry_wait;
    options.report = line.report;
    options.log_dir = line.log_dir;
    options.user = line.user;
    options.local = line.local;
    options.yes = line.yes;
    options.check = line.check;
    options.skip_current = line.skip_current;
    options.quiet = line.quiet;
    options.images.assign(line.images, line.images + line.image_count);
    options.any_model = line.any_model;
    options.single_device_files = line.events_path != nullptr || line.log_path != nullptr;
    return options;
}

// Two pipes for each child at a time: a --jobs the system's limit cannot hold is refused before
// anything starts.
bool room_for_children(const FleetPlan& plan, std::string* problem) {
    char files[160];
    long at_once = std::min(static_cast<long>(plan.jobs), static_cast<long>(plan.devices.size()));
    if (open_files_allow(2 * at_once + PARENT_OWN_FILES, files, sizeof files)) return true;
    *problem = "--jobs " + std::to_string(plan.jobs) + ": " + files +
               "; give a smaller --jobs (two pipes for each upgrade at a time)";
    return false;
}

}  // namespace

bool fleet_wanted(const CommandLine& line) {
    return line.devices_path != nullptr || line.device_count > 1 || line.jobs != nullptr ||
           line.log_dir != nullptr || line.report != nullptr || line.canary != nullptr ||
           line.max_failures != nullptr || line.scan != nullptr || line.retries != nullptr ||
           line.retry_wait != nullptr;
}

FleetPlanProblem fleet_plan_from(const CommandLine& line, FleetProgram program, FleetPlan* plan,
                                 std::string* problem) {
    FleetOptions options = options_of(line, program);
    if (line.devices_path != nullptr &&
        !read_named_file("the devices file", line.devices_path, &options.devices_text, problem)) {
        return FleetPlanProblem::FILE;
    }
    if (!password_from_options(line, &options.has_password, &options.password, problem) ||
        !images_from_options(line, problem)) {
        return FleetPlanProblem::FILE;
    }
    if (!fleet_plan_read(options, plan, problem) || !room_for_children(*plan, problem)) {
        return FleetPlanProblem::OPTIONS;
    }
    return FleetPlanProblem::NONE;
}
