// The run over several devices on the console: the plan from the options, the children (POSIX
// processes from platform/) handed to the fleet's scheduler, and the live table or one line per
// change, the report after each device's end, then the summary.
#include "main/fleet_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/run_report.h"
#include "fleet/child_rows.h"
#include "fleet/fleet_devices.h"
#include "fleet/fleet_progress.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_scheduler.h"
#include "main/fleet_table.h"
#include "main/named_files.h"
#include "platform/child_process.h"
#include "platform/open_files.h"

namespace {

// Each child is a mostly idle process (the device writes its flash for 30 s of its ~31 s) that
// adds a third of a megabyte; a port walk that finds its range taken takes a port the system
// chooses. So a site goes in one wave: by default up to 64 at once, which bounds what a list
// given by mistake starts at one stroke; --jobs takes up to 256.
constexpr int DEFAULT_JOBS = 64;
constexpr int MAX_JOBS = 256;
// Open files the parent needs besides two pipes per child: its standard streams, the wake pipe,
// the two pipes of a child being started, and room for the C library.
constexpr long PARENT_OWN_FILES = 16;
// A whole upgrade takes about 31 s, 58 s when the device falls silent; ten minutes is far past
// any upgrade that is still getting somewhere (--deadline).
constexpr long DEFAULT_DEADLINE_S = 600;
constexpr long MAX_DEADLINE_S = 86400;
constexpr int WAIT_MS = 100;
constexpr std::int64_t REDRAW_MS = 200;

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr,
                 "tev-upgrade: %s\nUsage: tev-upgrade [OPTION]...\n"
                 "Try 'tev-upgrade --help' for more information.\n",
                 problem.c_str());
    return EXIT_USAGE;
}

struct Options {
    FleetPlan plan;
    std::string report;
    FleetReportFormat format = FleetReportFormat::CSV;
    bool quiet = false;
};

bool read_number(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return end != text && *end == 0 && errno == 0 && *value >= low && *value <= high;
}

// The --log-dir folder, made when missing; a file of that name is no folder.
bool log_folder_ready(const char* path, std::string* problem) {
    struct stat status {};
    if (mkdir(path, 0755) == 0) return true;
    int error = errno;
    if (error == EEXIST && stat(path, &status) == 0 && !S_ISDIR(status.st_mode)) error = ENOTDIR;
    if (error == EEXIST) return true;
    *problem = file_problem("create", "the log folder", path, std::strerror(error));
    return false;
}

// A file the options name that cannot be read or created: one line, nothing started.
int file_error(const std::string& problem) {
    std::fprintf(stderr, "tev-upgrade: %s\n", problem.c_str());
    return EXIT_USAGE;
}

// A number option of the plan: absent leaves *value; out of range is a problem.
bool number_option(const char* text, const char* name, long low, long high, long* value,
                   std::string* problem) {
    if (text == nullptr || read_number(text, low, high, value)) return true;
    *problem = std::string("--") + name + " needs a number from " + std::to_string(low) + " to " +
               std::to_string(high);
    return false;
}

bool read_devices(const CommandLine& line, const std::string& devices_text,
                  std::vector<FleetDevice>* devices, std::string* problem) {
    for (int i = 0; i < line.device_count; ++i) {
        if (!add_fleet_device(devices, line.devices[i], "", problem)) {
            problem->insert(0, "--device ");
            return false;
        }
    }
    if (line.devices_path != nullptr &&
        !add_fleet_devices_text(devices, devices_text, line.devices_path, problem))
        return false;
    if (devices->empty()) {
        *problem = line.devices_path != nullptr
                       ? std::string("no device to upgrade: ") + line.devices_path +
                             " lists no address"
                       : std::string("no device to upgrade");
        return false;
    }
    return true;
}

// The options of the run; a usage problem otherwise.
bool read_options(const CommandLine& line, const std::string& devices_text, Options* options,
                  std::string* problem) {
    FleetPlan& plan = options->plan;
    if (!read_devices(line, devices_text, &plan.devices, problem)) return false;
    if (!line.yes && !line.check) {
        *problem = "several devices need --yes: each upgrade runs without asking";
        return false;
    }
    if (line.events_path != nullptr || line.log_path != nullptr) {
        *problem = "--events and --log are for one device; with several use --log-dir DIR";
        return false;
    }
    long jobs = DEFAULT_JOBS, deadline = DEFAULT_DEADLINE_S, canary = 0, failures = 0;
    long devices = static_cast<long>(plan.devices.size());
    if (!number_option(line.jobs, "jobs", 1, MAX_JOBS, &jobs, problem) ||
        !number_option(line.deadline, "deadline", 1, MAX_DEADLINE_S, &deadline, problem) ||
        !number_option(line.canary, "canary", 1, devices, &canary, problem) ||
        !number_option(line.max_failures, "max-failures", 1, devices, &failures, problem)) {
        return false;
    }
    plan.jobs = static_cast<int>(jobs);
    plan.deadline_ms = deadline * 1000;
    plan.canary = static_cast<int>(canary);
    plan.max_failures = static_cast<int>(failures);
    plan.check = line.check;
    plan.skip_current = line.skip_current;
    if (line.report != nullptr) {
        options->report = line.report;
        if (!fleet_report_format(options->report, &options->format)) {
            *problem = "--report needs a file name ending in .csv or .json";
            return false;
        }
    }
    // An unattended child keeps a deadline of its own; the parent's, with its stop and kill,
    // comes first.
    plan.common_arguments = {"--yes", "--quiet", "--events", "-", "--deadline",
                             std::to_string(std::min(deadline + plan.grace_ms / 1000, MAX_DEADLINE_S))};
    if (line.user != nullptr) plan.common_arguments.insert(plan.common_arguments.end(), {"--user", line.user});
    if (line.local != nullptr) {
        plan.common_arguments.insert(plan.common_arguments.end(), {"--local", line.local});
    }
    if (line.log_dir != nullptr) plan.log_dir = line.log_dir;
    options->quiet = line.quiet;
    return true;
}

class SteadyClock final : public FleetClock {
public:
    std::int64_t now_ms() override { return ::now_ms(); }
};

// The children as the scheduler sees them: a row each, POSIX processes underneath.
class Children final : public FleetChildren, public ChildReceiver {
public:
    Children(std::string program, std::vector<std::string> environment, std::size_t rows)
        : program_(std::move(program)), environment_(std::move(environment)), rows_of_children_(rows) {}

    void attach(FleetScheduler* scheduler) { scheduler_ = scheduler; }

    bool start(std::size_t row, const std::vector<std::string>& arguments,
               std::string* problem) override {
        int id = set_.start(program_, arguments, environment_, problem);
        if (id < 0) return false;
        rows_of_children_.bind(row, id);
        return true;
    }
    void cancel(std::size_t row) override { set_.cancel(rows_of_children_.child(row)); }
    void kill(std::size_t row) override { set_.kill(rows_of_children_.child(row)); }

    void wait(int timeout_ms) { set_.wait(timeout_ms, *this); }

    void output_line(int id, ChildStream stream, const std::string& line) override {
        if (stream == ChildStream::OUTPUT) scheduler_->child_output(rows_of_children_.row(id), line);
        else scheduler_->child_error(rows_of_children_.row(id), line);
    }
    void process_ended(int id, bool exited, int code) override {
        scheduler_->child_ended(rows_of_children_.row(id), exited, code);
    }

private:
    std::string program_;
    std::vector<std::string> environment_;
    ChildRows rows_of_children_;
    ChildSet set_;
    FleetScheduler* scheduler_ = nullptr;
};

// What the screen shows, and the report: a table redrawn in place on a terminal, else a line per
// change of state and the head line after each device's end.
class Screen final : public FleetWatcher {
public:
    Screen(const Options& options, std::int64_t start_ms)
        : options_(options), quiet_(options.quiet), terminal_(!quiet_ && isatty(1) == 1),
          start_ms_(start_ms) {}

    void attach(const FleetScheduler* scheduler) { scheduler_ = scheduler; }

    void row_changed(std::size_t, const FleetRow& before, const FleetRow& after) override {
        bool finished = !fleet_row_finished(before) && fleet_row_finished(after);
        if (finished) write_report();
        if (quiet_) return;
        if (terminal_) {
            dirty_ = true;
            return;
        }
        // A line per change of state; not per percent or second of the same one.
        bool same = before.state == after.state && (after.state == FleetState::UPLOADING ||
                                                    after.state == FleetState::FLASHING);
        if (!same && fleet_state_text(before) != fleet_state_text(after)) {
            std::printf("%7.1f s  %s  %s\n", static_cast<double>(now_ms() - start_ms_) / 1000.0,
                        after.address.c_str(), fleet_state_text(after).c_str());
        }
        if (finished) std::printf("%s\n", head_line().c_str());
        std::fflush(stdout);
    }

    void draw(bool now) {
        if (!terminal_ || (!dirty_ && !now) || (!now && now_ms() - drawn_ms_ < REDRAW_MS)) return;
        struct winsize size {};
        std::size_t width = 100;
        std::size_t height = 50;
        if (ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            width = size.ws_col;
            height = size.ws_row > 4 ? size.ws_row : 4;
        }
        std::vector<std::string> lines =
            fleet_table_lines(scheduler_->rows(), head_line(), width, height - 1);
        std::string text;
        if (lines_drawn_ > 0) text += "\x1b[" + std::to_string(lines_drawn_) + "A";
        for (const std::string& line : lines) text += "\r" + line + "\x1b[K\n";
        // A table that shrank leaves no old lines under it.
        for (std::size_t i = lines.size(); i < lines_drawn_; ++i) text += "\x1b[K\n";
        if (lines_drawn_ > lines.size()) {
            text += "\x1b[" + std::to_string(lines_drawn_ - lines.size()) + "A";
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        lines_drawn_ = lines.size();
        drawn_ms_ = now_ms();
        dirty_ = false;
    }

    // The report after each device's end; a failure to write it is told once.
    void write_report() {
        if (options_.report.empty() || scheduler_ == nullptr) return;
        std::string problem;
        if (!fleet_report_write(options_.report, scheduler_->rows(), options_.format, &problem) &&
            !report_failed_) {
            report_failed_ = true;
            std::fprintf(stderr, "tev-upgrade: %s\n", problem.c_str());
        }
    }

private:
    std::string head_line() const {
        return fleet_head_line(scheduler_->rows(), options_.plan.jobs, start_ms_, now_ms());
    }

    const Options& options_;
    const FleetScheduler* scheduler_ = nullptr;
    bool quiet_;
    bool terminal_;
    std::int64_t start_ms_;
    bool dirty_ = true;
    bool report_failed_ = false;
    std::size_t lines_drawn_ = 0;
    std::int64_t drawn_ms_ = 0;
};

int run(const Options& options, Children& children, int argc, const char* const* argv) {
    SteadyClock clock;
    Screen screen(options, clock.now_ms());
    FleetScheduler scheduler(options.plan, clock, children, &screen);
    children.attach(&scheduler);
    screen.attach(&scheduler);
    interrupts_catch();
    int taken = 0;
    for (scheduler.step(); !scheduler.finished(); scheduler.step()) {
        children.wait(WAIT_MS);
        for (; taken < interrupts_count(); ++taken) scheduler.interrupt();
        screen.draw(false);
    }
    screen.draw(true);
    screen.write_report();
    FleetSummaryFacts facts;
    facts.check = options.plan.check;
    facts.total_ms = clock.now_ms() - scheduler.started_ms();
    facts.stopped_early = scheduler.stopped_early();
    facts.log_dir = options.plan.log_dir;
    if (!options.plan.check) facts.retry_command = fleet_retry_command(argc, argv);
    std::fputc('\n', stdout);
    std::fputs(fleet_summary(scheduler.rows(), facts).c_str(), stdout);
    std::fflush(stdout);
    return scheduler.exit_status();
}

}  // namespace

bool fleet_wanted(const CommandLine& line) {
    return line.devices_path != nullptr || line.device_count > 1 || line.jobs != nullptr ||
           line.log_dir != nullptr || line.report != nullptr ||
           line.canary != nullptr || line.max_failures != nullptr;
}

int run_fleet(const CommandLine& line, int argc, const char* const* argv) {
    Options options;
    std::string problem;
    std::string devices_text;
    if (line.devices_path != nullptr &&
        !read_named_file("the devices file", line.devices_path, &devices_text, &problem))
        return file_error(problem);
    if (!read_options(line, devices_text, &options, &problem)) return usage_error(problem);
    const FleetPlan& plan = options.plan;
    char files[160];
    long at_once = std::min(static_cast<long>(plan.jobs), static_cast<long>(plan.devices.size()));
    if (!open_files_allow(2 * at_once + PARENT_OWN_FILES, files, sizeof files)) {
        return usage_error("--jobs " + std::to_string(plan.jobs) + ": " + files +
                           "; give a smaller --jobs (two pipes for each upgrade at a time)");
    }
    std::string password;
    bool has_password = line.password_file != nullptr;
    if (has_password && !read_password_file(line.password_file, &password, &problem))
        return file_error(problem);
    if (line.log_dir != nullptr && !log_folder_ready(line.log_dir, &problem)) {
        return file_error(problem);
    }
    Children children(own_program_path(argv[0]),
                      fleet_child_environment(process_environment(),
                                              has_password ? &password : nullptr),
                      options.plan.devices.size());
    return run(options, children, argc, argv);
}
