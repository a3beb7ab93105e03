// The list window's settings from the command line.
#include "main/list_settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "fleet/fleet_devices.h"

namespace {

constexpr int DEFAULT_JOBS = 64;
constexpr long MAX_JOBS = 256;


bool read_text(const char* path, std::string* text, std::string* problem) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *problem = std::string("can't read ") + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << file.rdbuf();
    *text = all.str();
    return true;
}

bool number_option(const char* text, const char* name, long high, int* value,
                   std::string* problem) {
    if (text == nullptr) return true;
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    if (end != text && *end == 0 && number >= 1 && number <= high) {
        *value = static_cast<int>(number);
        return true;
    }
    *problem = std::string("/") + name + " needs a number from 1 to " + std::to_string(high);
    return false;
}

}  // namespace

bool list_settings_read(const CommandLine& line, ListSettings* settings, std::string* problem) {
    FleetPlan& plan = settings->plan;
    for (int i = 0; i < line.device_count; ++i) {
        if (!add_fleet_device(&plan.devices, line.devices[i], "", problem)) {
            problem->insert(0, "/device ");
            return false;
        }
    }
    if (line.devices_path != nullptr) {
        std::string text;
        if (!read_text(line.devices_path, &text, problem) ||
            !add_fleet_devices_text(&plan.devices, text, line.devices_path, problem)) {
            return false;
        }
    }
    if (plan.devices.empty()) {
        *problem = "no device to upgrade";
        return false;
    }
    if (line.events_path != nullptr || line.log_path != nullptr) {
        *problem = "/events and /log are for one device";
        return false;
    }
    long devices = static_cast<long>(plan.devices.size());
    plan.jobs = DEFAULT_JOBS;
    if (!number_option(line.jobs, "jobs", MAX_JOBS, &plan.jobs, problem) ||
        !number_option(line.canary, "canary", devices, &plan.canary, problem) ||
        !number_option(line.max_failures, "maxfailures", devices, &plan.max_failures, problem)) {
        return false;
    }
    if (line.report != nullptr) {
        settings->report = line.report;
        if (!fleet_report_format(settings->report, &settings->format)) {
            *problem = "/report needs a file name ending in .csv or .json";
            return false;
        }
    }
    settings->yes = line.yes;
    settings->check_only = line.check;
    settings->skip_current = line.skip_current;
    if (line.user != nullptr) settings->user = line.user;
    if (line.local != nullptr) settings->local = line.local;
    return true;
}
