// The plan of a run over several devices from its options, and each child's command line.
#include "fleet/fleet_plan.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "core/run_limits.h"
#include "fleet/scan_range.h"

namespace {

constexpr const char* PASSWORD_VARIABLE = "TEV_PASSWORD=";
constexpr const char* HIDDEN_VARIABLE = "TEV_HIDDEN=";
// What a scan's child is given: one short connection attempt (the child's SCAN_PROBE_ARGUMENT).
constexpr const char* SCAN_PROBE = "--scan-probe";

bool starts_with(const std::string& text, const char* start) {
    return text.compare(0, std::char_traits<char>::length(start), start) == 0;
}

// An option as the program spells it: "--max-failures" on the console, "/maxfailures" in the
// Windows program's boxes.
std::string spelled(FleetProgram program, const char* name, const char* windows_name = nullptr) {
    if (program == FleetProgram::WINDOWS) return std::string("/") + (windows_name ? windows_name : name);
    return std::string("--") + name;
}

bool read_number(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || errno != 0 || number < low || number > high) return false;
    *value = number;
    return true;
}

// A number option: absent leaves *value as it is; out of range is a problem.
bool number_option(const FleetOptions& options, const char* text, const char* name,
                   const char* windows_name, long high, int* value, std::string* problem) {
    long number = 0;
    if (text == nullptr) return true;
    if (read_number(text, 1, high, &number)) {
        *value = static_cast<int>(number);
        return true;
    }
    *problem = spelled(options.program, name, windows_name) + " needs a number from 1 to " +
               std::to_string(high);
    return false;
}

bool read_scan(const FleetOptions& options, FleetPlan* plan, std::string* problem) {
    plan->scan = true;
    plan->scan_range = options.scan;
    if (options.write_devices != nullptr) plan->write_devices = options.write_devices;
    if (scan_range_read(options.scan, &plan->devices, problem)) return true;
    problem->insert(0, spelled(options.program, "scan") + " " + plan->scan_range + ": ");
    return false;
}

// A count that may be 0: absent leaves *value as it is.
bool count_option(const FleetOptions& options, const char* text, const char* name,
                  const char* windows_name, long high, long* value, std::string* problem) {
    if (text == nullptr || read_number(text, 0, high, value)) return true;
    *problem = spelled(options.program, name, windows_name) + " needs a number from 0 to " +
               std::to_string(high);
    return false;
}

bool read_retries(const FleetOptions& options, FleetPlan* plan, std::string* problem) {
    long retries = plan->retries;
    long wait_s = FLEET_DEFAULT_RETRY_WAIT_S;
    if (!count_option(options, options.retries, "retries", nullptr, FLEET_MAX_RETRIES, &retries,
                      problem) ||
        !count_option(options, options.retry_wait, "retry-wait", "retrywait",
                      FLEET_MAX_RETRY_WAIT_S, &wait_s, problem)) {
        return false;
    }
    plan->retries = static_cast<int>(retries);
    plan->retry_wait_ms = wait_s * 1000;
    return true;
}

bool read_devices(const FleetOptions& options, std::vector<FleetDevice>* devices,
                  std::string* problem) {
    for (const std::string& address : options.devices) {
        if (!add_fleet_device(devices, address, "", problem)) {
            problem->insert(0, spelled(options.program, "device") + " ");
            return false;
        }
    }
    if (options.devices_path != nullptr &&
        !add_fleet_devices_text(devices, options.devices_text, options.devices_path, problem)) {
        return false;
    }
    if (!devices->empty()) return true;
    *problem = "no device to upgrade";
    if (options.devices_path != nullptr) *problem += std::string(": ") + options.devices_path + " lists no address";
    return false;
}

bool read_limits(const FleetOptions& options, FleetPlan* plan, std::string* problem) {
    long devices = static_cast<long>(plan->devices.size());
    if (!number_option(options, options.jobs, "jobs", nullptr, FLEET_MAX_JOBS, &plan->jobs, problem) ||
        !number_option(options, options.canary, "canary", nullptr, devices, &plan->canary, problem) ||
        !number_option(options, options.max_failures, "max-failures", "maxfailures", devices,
                       &plan->max_failures, problem)) {
        return false;
    }
    long deadline = DEFAULT_RUN_DEADLINE_S;
    if (options.deadline != nullptr && !read_deadline_seconds(options.deadline, &deadline)) {
        *problem = spelled(options.program, "deadline") + " needs seconds from 1 to " +
                   std::to_string(MAX_RUN_DEADLINE_S);
        return false;
    }
    plan->deadline_ms = deadline * 1000;
    return true;
}

bool read_report(const FleetOptions& options, FleetPlan* plan, std::string* problem) {
    if (options.report == nullptr) return true;
    plan->report = options.report;
    if (fleet_report_format(plan->report, &plan->format)) return true;
    *problem = spelled(options.program, "report") + " needs a file name ending in .csv or .json";
    return false;
}

}  // namespace

bool fleet_plan_read(const FleetOptions& options, FleetPlan* plan, std::string* problem) {
    plan->program = options.program;
    bool devices_read = options.scan != nullptr ? read_scan(options, plan, problem)
                                                : read_devices(options, &plan->devices, problem);
    if (!devices_read) return false;
    if (options.single_device_files) {
        *problem = spelled(options.program, "events") + " and " + spelled(options.program, "log") +
                   " are for one device";
        if (options.program == FleetProgram::CONSOLE) *problem += "; with several use --log-dir DIR";
        return false;
    }
    if (!read_limits(options, plan, problem) || !read_retries(options, plan, problem) ||
        !read_report(options, plan, problem)) {
        return false;
    }
    plan->yes = options.yes;
    plan->check = options.check;
    plan->skip_current = options.skip_current;
    plan->quiet = options.quiet;
    plan->images = options.images;
    plan->any_model = options.any_model;
    if (options.log_dir != nullptr) plan->log_dir = options.log_dir;
    if (options.user != nullptr) plan->user = options.user;
    if (options.local != nullptr) plan->local = options.local;
    plan->has_password = options.has_password;
    plan->password = options.password;
    return true;
}

FleetStep fleet_first_step(const FleetPlan& plan) {
    FleetStep step;
    for (std::size_t i = 0; i < plan.devices.size(); ++i) step.rows.push_back(i);
    step.check = plan.check || plan.scan;
    step.scan = plan.scan;
    step.skip_current = plan.skip_current;
    if (!step.check) {
        step.canary = plan.canary;
        step.max_failures = plan.max_failures;
    }
    return step;
}

std::string fleet_log_name(const std::string& address, int attempt) {
    if (attempt <= 1) return address + ".log";
    return address + "-retry" + std::to_string(attempt - 1) + ".log";
}

std::vector<std::string> fleet_child_arguments(const FleetPlan& plan, const FleetStep& step,
                                               std::size_t row, int attempt) {
    const std::string& address = plan.devices[row].address;
    std::vector<std::string> arguments{"--device", address, "--yes"};
    // The console's child prints only its result line, on its error output; the Windows one has
    // no console to print to.
    if (plan.program == FleetProgram::CONSOLE) arguments.push_back("--quiet");
    long deadline_s = static_cast<long>((plan.deadline_ms + plan.grace_ms) / 1000);
    arguments.insert(arguments.end(), {"--events", "-", "--deadline",
                                       std::to_string(std::min(deadline_s, MAX_RUN_DEADLINE_S))});
    if (!plan.user.empty()) arguments.insert(arguments.end(), {"--user", plan.user});
    if (!plan.local.empty()) arguments.insert(arguments.end(), {"--local", plan.local});
    if (!plan.log_dir.empty()) {
        arguments.insert(arguments.end(), {"--log", plan.log_dir + "/" + fleet_log_name(address, attempt)});
    }
    for (const std::string& image : plan.images) arguments.insert(arguments.end(), {"--image", image});
    if (plan.any_model) arguments.push_back("--any-model");
    if (step.check) arguments.push_back("--check");
    if (step.skip_current) arguments.push_back("--skip-current");
    if (step.scan) arguments.push_back(SCAN_PROBE);
    return arguments;
}

std::vector<std::string> fleet_child_environment(const FleetPlan& plan,
                                                 const std::vector<std::string>& inherited) {
    bool hidden = plan.program == FleetProgram::WINDOWS;
    std::vector<std::string> environment;
    for (const std::string& entry : inherited) {
        if (plan.has_password && starts_with(entry, PASSWORD_VARIABLE)) continue;
        if (hidden && starts_with(entry, HIDDEN_VARIABLE)) continue;
        environment.push_back(entry);
    }
    if (plan.has_password) environment.push_back(PASSWORD_VARIABLE + plan.password);
    if (hidden) environment.push_back(std::string(HIDDEN_VARIABLE) + "1");
    return environment;
}
