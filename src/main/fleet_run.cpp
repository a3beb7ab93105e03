// The run over several devices: starts one child per device (at most --jobs at a time), reads
// each child's event lines and error output from pipes, stops a child that overstays its
// deadline, passes Ctrl-C on to every child, and shows a live table (on a terminal) or one line
// per change of state, then the summary.
#include "main/fleet_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/run_report.h"
#include "main/fleet_devices.h"
#include "main/fleet_table.h"
#include "main/named_files.h"
#include "platform/open_files.h"

extern char** environ;

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
// After its Cancel (Ctrl-C or the deadline) a child has this long to end on its own.
constexpr std::int64_t STOP_GRACE_MS = 15'000;
constexpr int POLL_MS = 100;
constexpr std::int64_t REDRAW_MS = 200;
constexpr std::size_t STDERR_LINE_LIMIT = 300;

struct Child {
    pid_t pid = -1;
    int events_fd = -1;
    int errors_fd = -1;
    std::string events_pending;  // an event line not yet whole
    std::string errors_pending;
    std::string errors_last;  // the last whole line on its standard error
    std::int64_t deadline_ms = 0;
    std::int64_t kill_ms = -1;  // SIGKILL when passed, once it was asked to stop
    std::string why;
    bool running = false;
};

volatile sig_atomic_t interrupts = 0;
int wake_pipe[2] = {-1, -1};

void on_interrupt(int) {
    interrupts = interrupts + 1;
    int saved = errno;
    [[maybe_unused]] ssize_t written = write(wake_pipe[1], "!", 1);
    errno = saved;
}

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

struct Plan {
    std::vector<std::string> devices;
    int jobs = DEFAULT_JOBS;
    long deadline_s = DEFAULT_DEADLINE_S;
    std::vector<std::string> common_args;  // after the program and its --device
    const char* log_dir = nullptr;
    bool has_password = false;
    std::string password;
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

// The plan from the options; a usage problem otherwise.
bool make_plan(const CommandLine& line, const std::string& devices_text, Plan* plan,
               std::string* problem) {
    for (int i = 0; i < line.device_count; ++i) {
        if (!add_fleet_device(&plan->devices, line.devices[i], problem)) {
            problem->insert(0, "--device ");
            return false;
        }
    }
    if (line.devices_path != nullptr &&
        !add_fleet_devices_text(&plan->devices, devices_text, line.devices_path, problem))
        return false;
    if (plan->devices.empty()) {
        *problem = line.devices_path != nullptr
                       ? std::string("no device to upgrade: ") + line.devices_path +
                             " lists no address"
                       : std::string("no device to upgrade");
        return false;
    }
    if (!line.yes) {
        *problem = "several devices need --yes: each upgrade runs without asking";
        return false;
    }
    if (line.events_path != nullptr || line.log_path != nullptr) {
        *problem = "--events and --log are for one device; with several use --log-dir DIR";
        return false;
    }
    if (line.jobs != nullptr) {
        long jobs = 0;
        if (!read_number(line.jobs, 1, MAX_JOBS, &jobs)) {
            *problem = "--jobs needs a number from 1 to " + std::to_string(MAX_JOBS);
            return false;
        }
        plan->jobs = static_cast<int>(jobs);
    }
    if (line.deadline != nullptr && !read_number(line.deadline, 1, MAX_DEADLINE_S, &plan->deadline_s)) {
        *problem = "--deadline needs seconds from 1 to " + std::to_string(MAX_DEADLINE_S);
        return false;
    }
    // An unattended child keeps a deadline of its own; the parent's, with its stop and kill,
    // comes first.
    plan->common_args = {"--yes", "--quiet", "--events", "-", "--deadline",
                         std::to_string(std::min(plan->deadline_s + STOP_GRACE_MS / 1000,
                                                 MAX_DEADLINE_S))};
    if (line.user != nullptr) plan->common_args.insert(plan->common_args.end(), {"--user", line.user});
    if (line.local != nullptr) {
        plan->common_args.insert(plan->common_args.end(), {"--local", line.local});
    }
    plan->log_dir = line.log_dir;
    plan->quiet = line.quiet;
    return true;
}

// The environment of every child: this one's, with TEV_PASSWORD set when a password file was
// read. The password never goes on a child's command line.
std::vector<std::string> child_environment(const Plan& plan) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (plan.has_password && std::strncmp(*entry, "TEV_PASSWORD=", 13) == 0) continue;
        environment.emplace_back(*entry);
    }
    if (plan.has_password) environment.push_back("TEV_PASSWORD=" + plan.password);
    return environment;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

// Starts this program for one device, its standard output (the events) and error on pipes.
bool start_child(Child* child, const std::string& program, std::vector<std::string> arguments,
                 std::vector<std::string>& environment) {
    int events[2];
    int errors[2];
    if (pipe2(events, O_CLOEXEC) != 0) return false;
    if (pipe2(errors, O_CLOEXEC) != 0) {
        close(events[0]);
        close(events[1]);
        return false;
    }
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, so that the terminal's Ctrl-C reaches the parent alone, which
        // passes it on once; and no child outlives a parent that was killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int nothing = open("/dev/null", O_RDONLY);
        if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(events[1], 1) < 0 ||
            dup2(errors[1], 2) < 0) {
            _exit(127);
        }
        execve(program.c_str(), argv.data(), envp.data());
        static const char failed[] = "tev-upgrade: can't start the program for this device\n";
        [[maybe_unused]] ssize_t written = write(2, failed, sizeof failed - 1);
        _exit(127);
    }
    close(events[1]);
    close(errors[1]);
    if (pid < 0) {
        close(events[0]);
        close(errors[0]);
        return false;
    }
    fcntl(events[0], F_SETFL, O_NONBLOCK);
    fcntl(errors[0], F_SETFL, O_NONBLOCK);
    child->pid = pid;
    child->events_fd = events[0];
    child->errors_fd = errors[0];
    child->running = true;
    return true;
}

// What the screen shows: a table redrawn in place on a terminal, else a line per change.
class Display {
public:
    Display(bool quiet, std::int64_t start_ms)
        : quiet_(quiet), terminal_(!quiet && isatty(1) == 1), start_ms_(start_ms) {}

    void changed(const FleetRow& before, const FleetRow& after) {
        if (quiet_) return;
        if (terminal_) {
            dirty_ = true;
            return;
        }
        if (before.state == after.state) return;
        std::printf("%7.1f s  %s  %s\n", static_cast<double>(now_ms() - start_ms_) / 1000.0,
                    after.address.c_str(), fleet_state_text(after).c_str());
        std::fflush(stdout);
    }

    void draw(const std::vector<FleetRow>& rows, bool now) {
        if (!terminal_ || !dirty_ || (!now && now_ms() - drawn_ms_ < REDRAW_MS)) return;
        struct winsize size {};
        std::size_t width = 100;
        std::size_t height = 50;
        if (ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            width = size.ws_col;
            height = size.ws_row > 2 ? size.ws_row : 3;
        }
        std::vector<std::string> lines = fleet_table_lines(rows);
        if (lines.size() > height - 1) {
            std::size_t more = lines.size() - (height - 2);
            lines.resize(height - 2);
            lines.push_back("... and " + std::to_string(more) + " more devices");
        }
        std::string text;
        if (lines_drawn_ > 0) text += "\x1b[" + std::to_string(lines_drawn_) + "A";
        for (std::string& line : lines) {
            if (line.size() >= width) line.resize(width - 1);
            text += "\r" + line + "\x1b[K\n";
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        lines_drawn_ = lines.size();
        drawn_ms_ = now_ms();
        dirty_ = false;
    }

private:
    bool quiet_;
    bool terminal_;
    std::int64_t start_ms_;
    bool dirty_ = true;
    std::size_t lines_drawn_ = 0;
    std::int64_t drawn_ms_ = 0;
};

// Reads what a pipe holds; false once it is at its end (or broken).
bool read_some(int fd, std::string* pending) {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            pending->append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && errno == EAGAIN;
    }
}

void close_fd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

class FleetRun {
public:
    FleetRun(const Plan& plan, const std::string& program)
        : plan_(plan), program_(program), environment_(child_environment(plan)),
          display_(plan.quiet, start_ms_) {
        for (const std::string& address : plan.devices) {
            rows_.push_back(FleetRow{});
            rows_.back().address = address;
        }
        children_.resize(rows_.size());
    }

    int run() {
        std::size_t next = 0;
        int taken = 0;
        for (;;) {
            if (interrupts != taken) {
                taken = interrupts;
                cancel_all(taken > 1);
            }
            while (!cancelled_ && next < rows_.size() && running() < plan_.jobs) start(next++);
            if (running() == 0 && (cancelled_ || next == rows_.size())) break;
            wait_for_output();
            reap_and_police();
            display_.draw(rows_, false);
        }
        for (FleetRow& row : rows_) {
            if (row.state == FleetState::QUEUED) {
                row.state = FleetState::FAILED;
                row.reason = "cancelled before it started";
            }
        }
        display_.draw(rows_, true);
        std::fputc('\n', stdout);
        std::fputs(fleet_summary(rows_).c_str(), stdout);
        std::fflush(stdout);
        for (const FleetRow& row : rows_) {
            if (row.state != FleetState::VERIFIED) return 1;
        }
        return 0;
    }

private:
    int running() const {
        int count = 0;
        for (const Child& child : children_) count += child.running ? 1 : 0;
        return count;
    }

    void start(std::size_t i) {
        FleetRow before = rows_[i];
        std::vector<std::string> arguments{program_, "--device", rows_[i].address};
        arguments.insert(arguments.end(), plan_.common_args.begin(), plan_.common_args.end());
        if (plan_.log_dir != nullptr) {
            arguments.insert(arguments.end(),
                             {"--log", std::string(plan_.log_dir) + "/" + rows_[i].address + ".log"});
        }
        rows_[i].started_ms = now_ms();
        if (!start_child(&children_[i], program_, arguments, environment_)) {
            rows_[i].state = FleetState::FAILED;
            rows_[i].reason = std::string("can't start its process: ") + std::strerror(errno);
            rows_[i].ended_ms = rows_[i].started_ms;
        } else {
            rows_[i].state = FleetState::CONNECTING;
            children_[i].deadline_ms = rows_[i].started_ms + plan_.deadline_s * 1000;
        }
        display_.changed(before, rows_[i]);
    }

    // Ctrl-C: every child presses its Cancel and ends with its own User Abort; a second Ctrl-C
    // ends them at once.
    void cancel_all(bool at_once) {
        cancelled_ = true;
        for (Child& child : children_) {
            if (!child.running) continue;
            kill(child.pid, at_once ? SIGKILL : SIGINT);
            if (child.kill_ms < 0) child.kill_ms = now_ms() + STOP_GRACE_MS;
        }
    }

    void wait_for_output() {
        std::vector<pollfd> fds{{wake_pipe[0], POLLIN, 0}};
        for (const Child& child : children_) {
            if (child.events_fd >= 0) fds.push_back({child.events_fd, POLLIN, 0});
            if (child.errors_fd >= 0) fds.push_back({child.errors_fd, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), POLL_MS) <= 0) return;
        if (fds[0].revents != 0) {
            char drained[64];
            [[maybe_unused]] ssize_t got = read(wake_pipe[0], drained, sizeof drained);
        }
        for (std::size_t i = 0; i < children_.size(); ++i) take_output(i);
    }

    void take_output(std::size_t i) {
        Child& child = children_[i];
        if (child.events_fd >= 0 && !read_some(child.events_fd, &child.events_pending)) {
            close_fd(&child.events_fd);
        }
        for (std::size_t end; (end = child.events_pending.find('\n')) != std::string::npos;) {
            FleetRow before = rows_[i];
            fleet_apply_event(&rows_[i], child.events_pending.substr(0, end));
            child.events_pending.erase(0, end + 1);
            display_.changed(before, rows_[i]);
        }
        if (child.errors_fd >= 0 && !read_some(child.errors_fd, &child.errors_pending)) {
            close_fd(&child.errors_fd);
        }
        for (std::size_t end; (end = child.errors_pending.find('\n')) != std::string::npos;) {
            std::string line = child.errors_pending.substr(0, end);
            child.errors_pending.erase(0, end + 1);
            if (!line.empty()) child.errors_last = line.substr(0, STDERR_LINE_LIMIT);
        }
        if (child.errors_pending.size() > STDERR_LINE_LIMIT) child.errors_pending.clear();
    }

    // Each child that ended is read to the end of its pipes and its row closed; a child past its
    // deadline is asked to stop, and one that does not is killed.
    void reap_and_police() {
        std::int64_t now = now_ms();
        for (std::size_t i = 0; i < children_.size(); ++i) {
            Child& child = children_[i];
            if (!child.running) continue;
            int status = 0;
            pid_t ended = waitpid(child.pid, &status, WNOHANG);
            if (ended == child.pid) {
                child.running = false;
                take_output(i);
                close_fd(&child.events_fd);
                close_fd(&child.errors_fd);
                FleetRow before = rows_[i];
                FleetChildEnd end{WIFEXITED(status), WIFEXITED(status) ? WEXITSTATUS(status)
                                                                       : WTERMSIG(status),
                                  child.why, child.errors_last};
                fleet_child_ended(&rows_[i], end, now);
                display_.changed(before, rows_[i]);
                continue;
            }
            if (child.kill_ms < 0 && now >= child.deadline_ms) {
                child.why = "no end after " + std::to_string(plan_.deadline_s) + " s";
                kill(child.pid, SIGINT);
                child.kill_ms = now + STOP_GRACE_MS;
            } else if (child.kill_ms >= 0 && now >= child.kill_ms) {
                kill(child.pid, SIGKILL);
                child.kill_ms = now + STOP_GRACE_MS;
            }
        }
    }

    const Plan& plan_;
    std::string program_;
    std::vector<std::string> environment_;
    std::int64_t start_ms_ = now_ms();  // before display_, which takes it
    Display display_;
    std::vector<FleetRow> rows_;
    std::vector<Child> children_;
    bool cancelled_ = false;
};

// This program's file, so that each child runs the very same build (argv[0] when the system
// does not say).
std::string own_program(const char* argv0) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return argv0;
    return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

bool fleet_wanted(const CommandLine& line) {
    return line.devices_path != nullptr || line.device_count > 1 || line.jobs != nullptr ||
           line.log_dir != nullptr;
}

int run_fleet(const CommandLine& line, const char* program) {
    Plan plan;
    std::string problem;
    std::string devices_text;
    if (line.devices_path != nullptr &&
        !read_named_file("the devices file", line.devices_path, &devices_text, &problem))
        return file_error(problem);
    if (!make_plan(line, devices_text, &plan, &problem)) return usage_error(problem);
    char files[160];
    long at_once = std::min(static_cast<long>(plan.jobs), static_cast<long>(plan.devices.size()));
    if (!open_files_allow(2 * at_once + PARENT_OWN_FILES, files, sizeof files)) {
        return usage_error("--jobs " + std::to_string(plan.jobs) + ": " + files +
                           "; give a smaller --jobs (two pipes for each upgrade at a time)");
    }
    if (line.password_file != nullptr) {
        if (!read_password_file(line.password_file, &plan.password, &problem))
            return file_error(problem);
        plan.has_password = true;
    }
    if (plan.log_dir != nullptr && !log_folder_ready(plan.log_dir, &problem)) {
        return file_error(problem);
    }
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "tev-upgrade: %s\n", std::strerror(errno));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    FleetRun fleet(plan, own_program(program));
    return fleet.run();
}
