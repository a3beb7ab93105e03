// The run over several devices on the console: the fleet's run with POSIX children, the live
// table or one line per change, then the summary.
#include "main/fleet_console.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/run_report.h"
#include "fleet/fleet_run.h"
#include "fleet/fleet_scan.h"
#include "main/fleet_children.h"
#include "main/fleet_options.h"
#include "main/fleet_table.h"
#include "main/named_files.h"

namespace {

constexpr int WAIT_MS = 100;
constexpr std::int64_t REDRAW_MS = 200;
// The head line's clock ticks on a terminal even when no row changes.
constexpr std::int64_t TICK_MS = 1000;
// Off a terminal, a scan prints its counts after this many silent addresses.
constexpr std::size_t SCAN_LINE_EVERY = 256;

FleetSystemClock system_clock;

std::int64_t now_ms() { return system_clock.now_ms(); }

// A wrong option gets the usage lines; a file that cannot be used, its one line.
int usage_error(const std::string& problem, bool options_wrong) {
    std::fprintf(stderr, "tev-upgrade: %s\n", problem.c_str());
    if (options_wrong) {
        std::fputs("Usage: tev-upgrade [OPTION]...\n"
                   "Try 'tev-upgrade --help' for more information.\n",
                   stderr);
    }
    return EXIT_USAGE;
}

// The --log-dir folder, made when missing; a file of that name is no folder.
bool log_folder_ready(const std::string& path, std::string* problem) {
    struct stat status {};
    if (path.empty() || mkdir(path.c_str(), 0755) == 0) return true;
    int error = errno;
    if (error == EEXIST && stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
        error = ENOTDIR;
    }
    if (error == EEXIST) return true;
    *problem = file_problem("create", "the log folder", path.c_str(), std::strerror(error));
    return false;
}

// What the screen shows: a table redrawn in place on a terminal, else a line per change of state
// and the head line after each device's end.
class Screen final : public FleetRunWatcher {
public:
    explicit Screen(const FleetRun& run)
        : run_(run), quiet_(run.plan().quiet), terminal_(!quiet_ && isatty(1) == 1),
          start_ms_(now_ms()) {}

    void row_changed(std::size_t, const FleetRow& before, const FleetRow& after) override {
        if (quiet_) return;
        if (terminal_) {
            dirty_ = true;
            return;
        }
        if (run_.scanning()) {
            scan_line(before, after);
            return;
        }
        // A line per change of state; not per percent or second of the same one.
        bool same = before.state == after.state && (after.state == FleetState::UPLOADING ||
                                                    after.state == FleetState::FLASHING ||
                                                    after.state == FleetState::RETRY_WAIT);
        if (!same && fleet_state_text(before) != fleet_state_text(after)) {
            std::printf("%7.1f s  %s  %s\n", static_cast<double>(now_ms() - start_ms_) / 1000.0,
                        after.address.c_str(), fleet_state_text(after).c_str());
        }
        if (!fleet_row_finished(before) && fleet_row_finished(after)) {
            std::printf("%s\n", run_.head_line().c_str());
        }
        std::fflush(stdout);
    }

    // On a terminal: the table again when a row changed, and each second for the clock.
    void draw(bool now) {
        if (!terminal_) return;
        std::int64_t since = now_ms() - drawn_ms_;
        if (!now && (dirty_ ? since < REDRAW_MS : since < TICK_MS)) return;
        struct winsize size {};
        std::size_t width = 100;
        std::size_t height = 50;
        if (ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            width = size.ws_col;
            height = size.ws_row > 4 ? size.ws_row : 4;
        }
        // A scan's table shows the TEVs found, not the hundreds of addresses still asked.
        std::vector<std::string> lines =
            fleet_table_lines(run_.scanning() ? scan_found_rows(run_.rows()) : run_.rows(),
                              run_.head_line(), width, height - 1);
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

private:
    // A scan's lines: a TEV when it is found, and the counts with it and after every
    // SCAN_LINE_EVERY addresses.
    void scan_line(const FleetRow& before, const FleetRow& after) {
        if (fleet_row_finished(before) || !fleet_row_finished(after)) return;
        bool found = scan_answer(after) == ScanAnswer::TEV;
        if (found) {
            std::printf("%7.1f s  %s  %s\n", static_cast<double>(now_ms() - start_ms_) / 1000.0,
                        after.address.c_str(), fleet_state_text(after).c_str());
        }
        if (found || ++scan_ended_ % SCAN_LINE_EVERY == 0) {
            std::printf("%s\n", run_.head_line().c_str());
        }
        std::fflush(stdout);
    }

    const FleetRun& run_;
    std::size_t scan_ended_ = 0;
    bool quiet_;
    bool terminal_;
    std::int64_t start_ms_;
    bool dirty_ = true;
    std::size_t lines_drawn_ = 0;
    std::int64_t drawn_ms_ = 0;
};

void print_summary(const FleetRun& run, int argc, const char* const* argv) {
    FleetSummaryFacts facts;
    facts.check = run.plan().check || run.plan().scan;
    facts.total_ms = run.elapsed_ms();
    facts.stopped_early = run.stopped_early();
    facts.log_dir = run.plan().log_dir;
    facts.report_problem = run.report_problem();
    if (!facts.check) facts.retry_command = fleet_retry_command(argc, argv);
    std::fputc('\n', stdout);
    if (run.plan().scan) std::printf("Scanned %s\n", run.head_line().c_str());
    if (run.plan().scan && run.rows().empty()) {
        std::fputs("No TEV was found.\n", stdout);
    } else {
        std::fputs(fleet_summary(run.rows(), facts).c_str(), stdout);
    }
    std::fflush(stdout);
}

int run(FleetRun& run, FleetProcesses& children, int argc, const char* const* argv) {
    Screen screen(run);
    run.watch(&screen);
    children.attach(&run);
    interrupts_catch();
    int taken = 0;
    for (run.start(fleet_first_step(run.plan())); run.running(); run.poll()) {
        children.wait(WAIT_MS);
        for (; taken < interrupts_count(); ++taken) run.interrupt("interrupted (Ctrl-C)");
        screen.draw(false);
    }
    screen.draw(true);
    print_summary(run, argc, argv);
    return run.exit_status();
}

}  // namespace

int run_fleet_console(const CommandLine& line, int argc, const char* const* argv) {
    FleetPlan plan;
    std::string problem;
    FleetPlanProblem wrong = fleet_plan_from(line, FleetProgram::CONSOLE, &plan, &problem);
    if (wrong != FleetPlanProblem::NONE) return usage_error(problem, wrong == FleetPlanProblem::OPTIONS);
    if (!log_folder_ready(plan.log_dir, &problem)) return usage_error(problem, false);
    std::size_t rows = plan.devices.size();
    FleetProcesses children(own_program_path(argv[0]), rows);
    FleetRun fleet(std::move(plan), process_environment(), system_clock, children);
    if (!fleet.open_report(&problem)) return usage_error(problem, false);
    return run(fleet, children, argc, argv);
}
