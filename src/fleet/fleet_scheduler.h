// The scheduler of a run over several devices: which device starts next (the jobs limit, the
// canary, the failure budget), each child's deadline, Ctrl-C, the retries of a device that failed
// before anything reached its flash, and each row's state from its child's lines and end. It starts and stops children only through FleetChildren and reads the
// time only from FleetClock, both given by its caller: the console program hands it POSIX
// processes, the Windows program Win32 ones, the unit tests fakes. Nothing here waits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fleet/fleet_plan.h"
#include "fleet/fleet_row.h"

// The time, in milliseconds from any fixed point.
class FleetClock {
public:
    virtual std::int64_t now_ms() = 0;

protected:
    ~FleetClock() = default;
};

// Whoever runs the children. `row` names the device (its index in the plan); a row has at most
// one child at a time. Once started, the caller hands the child's lines and its end back.
class FleetChildren {
public:
    // Starts the child with these arguments (after the program's name) and exactly this
    // environment. False, with *problem, when it could not start: the row fails with that text
    // and no end is expected.
    virtual bool start(std::size_t row, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment, std::string* problem) = 0;
    // Asks it to press its Cancel and end with its own result (a signal on POSIX, its standard
    // input closed on Windows).
    virtual void cancel(std::size_t row) = 0;
    // Ends it now.
    virtual void kill(std::size_t row) = 0;

protected:
    ~FleetChildren() = default;
};

// Told of every change of a row.
class FleetWatcher {
public:
    virtual void row_changed(std::size_t row, const FleetRow& before, const FleetRow& after) = 0;

protected:
    ~FleetWatcher() = default;
};

// One step's scheduler. Its rows are the plan's, indexed as the plan's devices; those outside the
// step stay as they are and start no child.
class FleetScheduler {
public:
    // environment: what each child gets (fleet_child_environment).
    FleetScheduler(const FleetPlan& plan, FleetStep step, std::vector<std::string> environment,
                   FleetClock& clock, FleetChildren& children, FleetWatcher* watcher);

    // Starts what may start and polices the deadlines. Call it after each change the caller
    // hands in, and at least every few hundred milliseconds.
    void step();
    // One whole line of the child's standard output (an event) or error.
    void child_output(std::size_t row, const std::string& line);
    void child_error(std::size_t row, const std::string& line);
    // The child ended (after its last lines) and was reaped; end.why and end.stderr_tail are
    // filled here.
    void child_ended(std::size_t row, bool exited, int code);
    // Ctrl-C (or the Windows window's Stop): the first cancels every child and starts no other;
    // the next one kills them. `why` is what the rows not started say.
    void interrupt(const std::string& why = "interrupted (Ctrl-C)");

    // Every row of the step ended: no child running and none to start.
    bool finished() const;
    // How many children have started and not yet ended.
    int running() const;
    const std::vector<FleetRow>& rows() const { return rows_; }
    // Why the run stopped before every device had its turn, in one line; empty otherwise.
    const std::string& stopped_early() const { return stopped_early_; }
    std::int64_t started_ms() const { return started_ms_; }

private:
    struct Child {
        bool running = false;
        bool cancelled = false;  // the run asked it to stop
        std::int64_t deadline_ms = 0;
        std::int64_t kill_ms = -1;  // killed when passed, once it was asked to stop
        std::string why;
        std::string errors_last;
        std::int64_t first_started_ms = -1;  // its device's deadline counts from here
        std::int64_t retry_ms = -1;          // when its next attempt is due, while it waits
    };

    bool may_start_more() const;
    void start(std::size_t row);
    void cancel(std::size_t row, const std::string& why);
    void police(std::size_t row, std::int64_t now);
    void row_ended(std::size_t row);
    bool retry_later(std::size_t row, FleetRow* after, const FleetChildEnd& end);
    void tick_wait(std::size_t row, std::int64_t now);
    void end_wait(std::size_t row);
    bool any_waiting() const;
    void stop_starting(const std::string& why);
    void close_unstarted();
    void set(std::size_t row, const FleetRow& after);
    int failures() const;
    bool is_canary(std::size_t row) const;
    bool canaries_ended_well(bool* all_ended) const;

    const FleetPlan& plan_;
    FleetStep step_;
    std::vector<std::string> environment_;
    FleetClock& clock_;
    FleetChildren& children_;
    FleetWatcher* watcher_;
    std::vector<FleetRow> rows_;
    std::vector<Child> child_;
    std::size_t next_ = 0;
    int interrupts_ = 0;
    bool stopped_ = false;
    std::string stopped_early_;
    std::string not_started_why_;
    std::int64_t started_ms_;
};
