// The list window's steps: which rows each one runs and what follows its end.
#include "fleet/fleet_steps.h"

#include <algorithm>

namespace {

constexpr const char* PASSWORD_WANTED = "Upgrade Failed: the device wants a password";
constexpr const char* PASSWORD_REFUSED = "the device refused the password";

bool failed_with(const FleetRow& row, const char* text) {
    return row.state == FleetState::FAILED && row.reason.find(text) != std::string::npos;
}

}  // namespace

FleetNext FleetSteps::begin() {
    std::vector<std::size_t> all(run_.rows().size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    start(all, true, false, false, run_.plan().scan);
    return FleetNext::WAIT;
}

void FleetSteps::start(std::vector<std::size_t> rows, bool check, bool skip_current,
                       bool first_upgrade, bool scan) {
    FleetStep step;
    step.rows = std::move(rows);
    step.check = check;
    step.scan = scan;
    step.skip_current = skip_current;
    // The canary and the budget are the first upgrade's; a check reads every device.
    if (first_upgrade) {
        int count = static_cast<int>(step.rows.size());
        step.canary = std::min(run_.plan().canary, count);
        step.max_failures = run_.plan().max_failures;
    }
    run_.start(step);
}

FleetNext FleetSteps::poll() {
    if (!run_.poll()) return FleetNext::WAIT;
    return step_ended();
}

FleetNext FleetSteps::step_ended() {
    bool was_check = run_.step().check;
    if (was_check) return after_check();
    upgraded_ = true;
    if (close_when_done_ || run_.plan().yes) return FleetNext::CLOSE;
    return FleetNext::CHOOSE;
}

// The password once, for the devices that want one when none was given; then, with --yes, the
// upgrade of those that need it.
FleetNext FleetSteps::after_check() {
    const FleetPlan& plan = run_.plan();
    wanting_password_.clear();
    for (std::size_t i = 0; i < run_.rows().size(); ++i) {
        if (failed_with(run_.rows()[i], PASSWORD_WANTED)) wanting_password_.push_back(i);
    }
    if (!close_when_done_ && !plan.yes && !plan.has_password && !password_asked_ &&
        !wanting_password_.empty()) {
        password_asked_ = true;
        return FleetNext::ASK_PASSWORD;
    }
    checked_ = true;
    if (close_when_done_) return FleetNext::CLOSE;
    if (!plan.yes) return FleetNext::CHOOSE;
    // --yes: every device that needs it, and the current ones too unless --skip-current.
    std::vector<std::size_t> chosen = rows_to_upgrade(!plan.skip_current);
    if (plan.check || chosen.empty()) return FleetNext::CLOSE;
    start(chosen, false, plan.skip_current, true);
    return FleetNext::WAIT;
}

FleetNext FleetSteps::password_given(const std::string& user, const std::string& password) {
    run_.set_credentials(user, password);
    if (retry_asked_) {
        retry_asked_ = false;
        start(rows_to_retry(), false, true, false);
        return FleetNext::WAIT;
    }
    start(wanting_password_, true, false, false);
    return FleetNext::WAIT;
}

FleetNext FleetSteps::password_declined() {
    if (retry_asked_) {
        retry_asked_ = false;
        return FleetNext::CHOOSE;
    }
    checked_ = true;
    return FleetNext::CHOOSE;
}

bool FleetSteps::may_upgrade() const {
    return !running() && checked_ && !upgraded_ && !run_.plan().check;
}

std::vector<std::size_t> FleetSteps::rows_to_upgrade(bool include_current) const {
    std::vector<std::size_t> chosen;
    const std::vector<FleetRow>& rows = run_.rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool current = rows[i].state == FleetState::CURRENT;
        if (rows[i].state == FleetState::NEEDS_UPGRADE || (include_current && current)) {
            chosen.push_back(i);
        }
    }
    return chosen;
}

void FleetSteps::upgrade(bool include_current) {
    std::vector<std::size_t> chosen = rows_to_upgrade(include_current);
    if (!may_upgrade() || chosen.empty()) return;
    start(chosen, false, !include_current, true);
}

bool FleetSteps::may_retry() const {
    return !running() && upgraded_ && !rows_to_retry().empty();
}

std::vector<std::size_t> FleetSteps::rows_to_retry() const {
    std::vector<std::size_t> chosen;
    const std::vector<FleetRow>& rows = run_.rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].state == FleetState::FAILED || rows[i].state == FleetState::NOT_STARTED) {
            chosen.push_back(i);
        }
    }
    return chosen;
}

bool FleetSteps::retry_wants_password() const {
    for (std::size_t row : rows_to_retry()) {
        const FleetRow& shown = run_.rows()[row];
        if (failed_with(shown, PASSWORD_REFUSED) || failed_with(shown, PASSWORD_WANTED)) return true;
    }
    return false;
}

FleetNext FleetSteps::retry() {
    if (!may_retry()) return FleetNext::CHOOSE;
    if (retry_wants_password()) {
        retry_asked_ = true;
        return FleetNext::ASK_PASSWORD;
    }
    start(rows_to_retry(), false, true, false);
    return FleetNext::WAIT;
}

int FleetSteps::flashing() const {
    int count = 0;
    if (!running()) return 0;
    for (std::size_t row : run_.step().rows) {
        const FleetRow& shown = run_.rows()[row];
        if (shown.image_sent && !fleet_row_ended(shown)) ++count;
    }
    return count;
}

void FleetSteps::stop() { run_.interrupt("stopped"); }

FleetNext FleetSteps::close() {
    if (!running()) return FleetNext::CLOSE;
    close_when_done_ = true;
    stop();
    return FleetNext::WAIT;
}
