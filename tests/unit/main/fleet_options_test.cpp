// The plan of a run over several devices from each program's command line: one set of ranges,
// defaults and problems, spelled as each program spells its options.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/run_images.h"
#include "main/fleet_options.h"

namespace {

struct Case {
    OptionStyle style;
    std::vector<const char*> arguments;  // site.txt lists 10.0.0.2 and 10.0.0.3
    const char* problem;                 // "": the plan is read
    int jobs, canary, max_failures;
    const char* child_deadline;          // the --deadline each child gets
};

const Case CASES[] = {
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes"}, "", 64, 0, 0, "615"},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--jobs", "256", "--deadline", "86400"},
     "", 256, 0, 0, "86400"},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--jobs", "257"},
     "--jobs needs a number from 1 to 256", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/devices", "site.txt", "/jobs", "0"},
     "/jobs needs a number from 1 to 256", 0, 0, 0, ""},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--canary", "2", "--max-failures", "2",
                          "--deadline", "30"}, "", 64, 2, 2, "45"},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--canary", "3"},
     "--canary needs a number from 1 to 2", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/devices", "site.txt", "/maxfailures", "3"},
     "/maxfailures needs a number from 1 to 2", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/device", "10.0.0.2", "/device", "10.0.0.3", "/deadline", "100"},
     "", 64, 0, 0, "115"},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--report", "site.txt"},
     "--report needs a file name ending in .csv or .json", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/devices", "site.txt", "/report", "site.txt"},
     "/report needs a file name ending in .csv or .json", 0, 0, 0, ""},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--log", "x.log"},
     "--events and --log are for one device; with several use --log-dir DIR", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/device", "10.0.0.2", "/device", "10.0.0.3", "/events", "x"},
     "/events and /log are for one device", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/device", "10.0.0.2", "/device", "10.0.0.02"},
     "/device 10.0.0.2 is listed twice", 0, 0, 0, ""},
    // A password file that cannot be read is a file the run cannot use, in both programs.
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--password-file", "no/such"},
     "can't read the password file no/such: No such file or directory", 0, 0, 0, ""},
    {OptionStyle::WINDOWS, {"/devices", "site.txt", "/passwordfile", "no/such"},
     "can't read the password file no/such: No such file or directory", 0, 0, 0, ""},
    {OptionStyle::LINUX, {"--devices", "none.txt", "--yes"},
     "can't read the devices file none.txt: No such file or directory", 0, 0, 0, ""},
    // An image that cannot be used ends the run before any child starts.
    {OptionStyle::WINDOWS, {"/devices", "site.txt", "/image", "no/such.bin"},
     "can't read the image file no/such.bin: No such file or directory", 0, 0, 0, ""},
    {OptionStyle::LINUX, {"--devices", "site.txt", "--yes", "--image", "site.txt"},
     "the image file site.txt: shorter than its 128-byte header", 0, 0, 0, ""},
};

class FleetPlanFrom : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/fleet-plan-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        ASSERT_EQ(getcwd(home_, sizeof home_), home_);
        ASSERT_EQ(chdir(folder), 0);
        std::FILE* file = std::fopen("site.txt", "w");
        std::fputs("10.0.0.2\n10.0.0.3  office\n", file);
        std::fclose(file);
        run_images_clear();
    }
    void TearDown() override {
        EXPECT_EQ(chdir(home_), 0);
        std::remove((folder_ + "/site.txt").c_str());
        rmdir(folder_.c_str());
    }
    std::string folder_;
    char home_[4096] = "";
};

TEST_F(FleetPlanFrom, OneSetOfRangesAndProblemsForBothPrograms) {
    for (const Case& c : CASES) {
        std::string shown;
        for (const char* argument : c.arguments) shown += std::string(argument) + " ";
        SCOPED_TRACE(shown);
        CommandLine line = parse_command_line(static_cast<int>(c.arguments.size()),
                                              c.arguments.data(), c.style);
        ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
        ASSERT_TRUE(fleet_wanted(line));
        FleetProgram program =
            c.style == OptionStyle::LINUX ? FleetProgram::CONSOLE : FleetProgram::WINDOWS;
        FleetPlan plan;
        std::string problem;
        FleetPlanProblem wrong = fleet_plan_from(line, program, &plan, &problem);
        bool read = wrong == FleetPlanProblem::NONE;
        EXPECT_EQ(problem, c.problem);
        EXPECT_EQ(wrong == FleetPlanProblem::FILE,
                  problem.rfind("can't ", 0) == 0 || problem.rfind("the image file", 0) == 0);
        if (!read) continue;
        EXPECT_EQ(plan.devices.size(), 2u);
        EXPECT_EQ(plan.jobs, c.jobs);
        EXPECT_EQ(plan.canary, c.canary);
        EXPECT_EQ(plan.max_failures, c.max_failures);
        std::vector<std::string> child = fleet_child_arguments(plan, fleet_first_step(plan), 1);
        auto deadline = std::find(child.begin(), child.end(), "--deadline");
        ASSERT_NE(deadline, child.end());
        EXPECT_EQ(*(deadline + 1), c.child_deadline);
    }
}

}  // namespace
