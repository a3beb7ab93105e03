// The steps of the Windows program's list window over one run, without the window: the check of
// every device first; the password asked once for the devices that want one, and those read
// again; then, when asked, the upgrade of those that need it; Stop; the failed ones again (the
// password asked again when a device refused it); the report saved. With --yes every step follows
// by itself and the window closes at the end.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "fleet/fleet_run.h"

// What the window does next.
enum class FleetNext {
    WAIT,          // a step runs (or nothing new happened)
    ASK_PASSWORD,  // devices want a password none was given for: ask, then password_given()
    CHOOSE,        // nothing runs: the buttons of the step the run is at
    CLOSE,         // the run is over: the window ends with exit_status()
};

class FleetSteps {
public:
    explicit FleetSteps(FleetRun& run) : run_(run) {}

    // Starts the check (a scan's when the plan has a range).
    FleetNext begin();
    // Hands over to the run; WAIT while nothing ended, and after a step's end what comes next.
    FleetNext poll();

    // The password dialog's answer (given: its user and password), asked after the check or
    // before the failed ones run again.
    FleetNext password_given(const std::string& user, const std::string& password);
    FleetNext password_declined();

    bool running() const { return run_.running(); }
    bool checking() const { return run_.running() && run_.step().check; }

    // "Upgrade N Devices": after the check, before any upgrade, unless --check.
    bool may_upgrade() const;
    // Those that need it, and the current ones too when asked.
    std::vector<std::size_t> rows_to_upgrade(bool include_current) const;
    void upgrade(bool include_current);

    // "Run Failed Again": after an upgrade, when a device failed or was not started.
    bool may_retry() const;
    std::vector<std::size_t> rows_to_retry() const;
    // A device of those refused the password: asking again beats sending the same one.
    bool retry_wants_password() const;
    FleetNext retry();

    // How many devices are writing their flash now: Stop asks first when any is.
    int flashing() const;
    // The first Stop has every child press its Cancel; the next kills them.
    void stop();
    // Close: ends now when nothing runs, else stops what runs and ends once it has.
    FleetNext close();

    int exit_status() const { return run_.exit_status(); }

private:
    FleetNext step_ended();
    FleetNext after_check();
    void start(std::vector<std::size_t> rows, bool check, bool skip_current, bool first_upgrade,
               bool scan = false);

    FleetRun& run_;
    bool checked_ = false;
    bool upgraded_ = false;
    bool password_asked_ = false;
    bool retry_asked_ = false;  // the password dialog before the failed ones run again
    bool close_when_done_ = false;
    std::vector<std::size_t> wanting_password_;
};
