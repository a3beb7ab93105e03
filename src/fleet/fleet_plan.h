// What a run over several devices does, read once from its options for both programs: the
// devices, the limits with their ranges and defaults, the report, and each child's command line
// and environment.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_devices.h"
#include "fleet/fleet_report.h"

// Which program runs the fleet: the console's children print nothing but their result line; the
// Windows program's children run hidden.
enum class FleetProgram { CONSOLE, WINDOWS };

// Each child is a mostly idle process (the device writes its flash for 30 s of its ~31 s), so a
// site goes in one wave: by default up to 64 at once, which bounds what a list given by mistake
// starts at one stroke; --jobs takes up to 256.
constexpr int FLEET_DEFAULT_JOBS = 64;
constexpr int FLEET_MAX_JOBS = 256;
// From a cancel to the kill; each child also keeps the run's deadline this much later itself, so
// that the run's own stop comes first.
constexpr std::int64_t FLEET_GRACE_MS = 15'000;
// --retries: 0 by default, at most 10; --retry-wait: the first wait, doubled for each further one.
constexpr int FLEET_MAX_RETRIES = 10;
constexpr long FLEET_DEFAULT_RETRY_WAIT_S = 30;
constexpr long FLEET_MAX_RETRY_WAIT_S = 3600;

// The options as the command line gave them, each text nullptr when not given; the files they
// name already read by the caller.
struct FleetOptions {
    FleetProgram program = FleetProgram::CONSOLE;
    std::vector<std::string> devices;  // every --device, in order
    const char* devices_path = nullptr;
    std::string devices_text;  // the devices file's text
    const char* jobs = nullptr;
    const char* deadline = nullptr;
    const char* canary = nullptr;
    const char* max_failures = nullptr;
    const char* scan = nullptr;           // the range; its addresses are the devices
    const char* write_devices = nullptr;  // a scan's devices file of the TEVs found
    const char* retries = nullptr;
    const char* retry_wait = nullptr;
    const char* report = nullptr;
    const char* log_dir = nullptr;
    const char* user = nullptr;
    const char* local = nullptr;
    bool yes = false;
    bool check = false;
    bool skip_current = false;
    bool quiet = false;
    std::vector<std::string> images;  // every --image, in order, already read and checked
    bool any_model = false;
    bool single_device_files = false;  // --events or --log
    bool has_password = false;
    std::string password;  // from --password-file or TEV_PASSWORD
};

struct FleetPlan {
    FleetProgram program = FleetProgram::CONSOLE;
    std::vector<FleetDevice> devices;
    int jobs = FLEET_DEFAULT_JOBS;
    std::int64_t deadline_ms = 600'000;  // from a child's start to its cancel
    std::int64_t grace_ms = FLEET_GRACE_MS;
    int canary = 0;        // the first N devices of an upgrade first, the rest if all end well
    int max_failures = 0;  // 0: no budget; else no device starts once this many failed
    int retries = 0;       // attempts after the first for a failure another may mend
    std::int64_t retry_wait_ms = FLEET_DEFAULT_RETRY_WAIT_S * 1000;  // before the first retry
    bool yes = false;      // every step follows by itself; nothing is asked
    bool check = false;    // read each device, change nothing
    bool scan = false;     // the devices are a range's addresses: the first step finds the TEVs
    std::string scan_range;
    std::string write_devices;  // a scan's devices file of the TEVs found; empty: none
    bool skip_current = false;
    bool quiet = false;
    std::vector<std::string> images;  // each child gets them: each device the image of its model
    bool any_model = false;
    std::string report;  // empty: none
    FleetReportFormat format = FleetReportFormat::CSV;
    std::string log_dir;  // each child's --log in it, as DIR/ADDRESS.log; empty: none
    std::string user;
    std::string local;
    bool has_password = false;
    std::string password;
};

// The plan of the options; false with *problem (a usage error, status 2) for a wrong one, with
// the option spelled as the program spells it ("--jobs needs a number from 1 to 256", "/jobs ...").
bool fleet_plan_read(const FleetOptions& options, FleetPlan* plan, std::string* problem);

// One step of a run: which of the plan's rows it runs, in order, and how. The canary and the
// failure budget are an upgrade's; a check reads every device.
struct FleetStep {
    std::vector<std::size_t> rows;
    bool check = false;
    bool scan = false;  // each child asks once, briefly; the run keeps only the TEVs found
    bool skip_current = false;
    int canary = 0;
    int max_failures = 0;
};

// The step the options ask for: every device, checked or upgraded; a scan's is a check.
FleetStep fleet_first_step(const FleetPlan& plan);

// The arguments of the child of a row (after the program's name): its address, --yes, the events
// on standard output, a deadline the run's own passes first, the user, this computer's address,
// its log, the images and --any-model, --check or --skip-current as the step has it, and a scan's
// --scan-probe. attempt: 1 for the first child of the row, 2 for its first retry, ...: each has a
// log of its own.
std::vector<std::string> fleet_child_arguments(const FleetPlan& plan, const FleetStep& step,
                                               std::size_t row, int attempt = 1);

// The name of a child's log in the log folder: ADDRESS.log, a retry's ADDRESS-retryN.log.
std::string fleet_log_name(const std::string& address, int attempt);

// The children's environment: the one inherited, with TEV_PASSWORD set to the plan's password
// when it has one (it wins over an inherited one), and on Windows TEV_HIDDEN=1 (the child's
// dialogs run hidden and the end of its standard input is its Cancel). Entries "NAME=value".
std::vector<std::string> fleet_child_environment(const FleetPlan& plan,
                                                 const std::vector<std::string>& inherited);
