// What the Windows list window's options ask for: the devices (/devices FILE, read as on Linux,
// and /device given more than once), the jobs, the canary and the failure budget, the report, the
// password's user and this computer's address. Platform-free.
#pragma once
#include <string>

#include "app/command_line.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_scheduler.h"

struct ListSettings {
    FleetPlan plan;  // the devices, jobs, canary and budget; each step takes its part of it
    std::string report;
    FleetReportFormat format = FleetReportFormat::CSV;
    bool yes = false;
    bool check_only = false;
    bool skip_current = false;
    bool has_password = false;
    std::string password;
    std::string user;
    std::string local;
};

// The settings of the command line; false with *problem ("/jobs needs a number from 1 to 256", a
// devices file's line named) for a wrong one. The password is the run options' to read.
bool list_settings_read(const CommandLine& line, ListSettings* settings, std::string* problem);
