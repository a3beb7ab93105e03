// The plan of a run over several devices: each child's command line and environment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/fleet_plan.h"

namespace {

TEST(FleetPlan, EachChildsCommandLineAndEnvironment) {
    FleetPlan plan;
    plan.devices = {{"10.0.0.1", ""}, {"10.0.0.2", "desk"}};
    plan.user = "admin";
    plan.log_dir = "logs";
    plan.skip_current = true;
    plan.images = {"handset.bin", "a b/4500.bin"};
    plan.any_model = true;
    EXPECT_EQ(fleet_child_arguments(plan, fleet_first_step(plan), 1),
              (std::vector<std::string>{"--device", "10.0.0.2", "--yes", "--quiet", "--events", "-",
                                        "--deadline", "615", "--user", "admin", "--log",
                                        "logs/10.0.0.2.log", "--image", "handset.bin", "--image",
                                        "a b/4500.bin", "--any-model", "--skip-current"}));
    plan.images.clear();
    plan.any_model = false;
    // A check reads every device: the canary and the budget are an upgrade's.
    plan.canary = 1;
    plan.max_failures = 1;
    EXPECT_EQ(fleet_first_step(plan).canary, 1);
    plan.check = true;
    EXPECT_EQ(fleet_first_step(plan).canary + fleet_first_step(plan).max_failures, 0);
    plan.program = FleetProgram::WINDOWS;
    plan.log_dir.clear();
    plan.local = "10.0.0.9";
    FleetStep check;
    check.check = true;
    EXPECT_EQ(fleet_child_arguments(plan, check, 0),
              (std::vector<std::string>{"--device", "10.0.0.1", "--yes", "--events", "-",
                                        "--deadline", "615", "--user", "admin", "--local",
                                        "10.0.0.9", "--check"}));

    // The password given wins over one the parent inherited; a Windows child runs hidden.
    std::vector<std::string> inherited{"HOME=/root", "TEV_PASSWORD=old", "TEV_PASSWORDS=x",
                                       "TEV_HIDDEN=0"};
    plan.has_password = true;
    plan.password = "pw one";
    EXPECT_EQ(fleet_child_environment(plan, inherited),
              (std::vector<std::string>{"HOME=/root", "TEV_PASSWORDS=x", "TEV_PASSWORD=pw one",
                                        "TEV_HIDDEN=1"}));
    plan.program = FleetProgram::CONSOLE;
    plan.has_password = false;
    EXPECT_EQ(fleet_child_environment(plan, inherited), inherited);
}

}  // namespace
