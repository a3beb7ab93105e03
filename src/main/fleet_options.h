// The command line of a run over several devices turned into the fleet's plan, for both programs:
// the files it names read, the password taken, the open files made room for. Every problem is a
// usage error (status 2), and nothing is sent.
#pragma once
#include <string>

#include "app/command_line.h"
#include "fleet/fleet_plan.h"

// Whether the command line asks for a run over several devices: --devices, --device more than
// once, --jobs, --log-dir, --report, --canary, --max-failures, --retries or --retry-wait.
bool fleet_wanted(const CommandLine& line);

// What stopped the plan: a file the options name ("can't read the devices file site.txt: ..."),
// or the options themselves ("--jobs needs a number from 1 to 256"); both end the run with 2.
enum class FleetPlanProblem { NONE, FILE, OPTIONS };

// The plan; the problem's kind, with *problem saying it.
FleetPlanProblem fleet_plan_from(const CommandLine& line, FleetProgram program, FleetPlan* plan,
                                 std::string* problem);
