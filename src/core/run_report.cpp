// The run's outcome and the receiver of its events.
#include "core/run_report.h"

#include <atomic>
#include <mutex>
#include <string>

#include "platform/process.h"

namespace {

class NoEvents final : public RunEvents {};
NoEvents no_events;
std::atomic<RunEvents*> receiver{&no_events};
std::atomic<bool> status_tells{true};
std::atomic<bool> ended{false};

std::mutex outcome_mutex;
RunResult outcome = RunResult::FAILED;
std::string box_text;
std::string version_before;
std::string version_after;

}  // namespace

void run_events_use(RunEvents* events) { receiver.store(events != nullptr ? events : &no_events); }

RunEvents& run_events() { return *receiver.load(); }

void run_outcome_failed(const char* text) {
    std::lock_guard<std::mutex> lock(outcome_mutex);
    outcome = RunResult::FAILED;
    box_text = text;
}

void run_outcome_verified(const char* text) {
    std::lock_guard<std::mutex> lock(outcome_mutex);
    outcome = RunResult::VERIFIED;
    box_text = text;
}

void run_outcome_settled(RunResult result, const char* text) {
    std::lock_guard<std::mutex> lock(outcome_mutex);
    outcome = result;
    box_text = text;
}

bool run_outcome_is_settled() {
    std::lock_guard<std::mutex> lock(outcome_mutex);
    return outcome != RunResult::FAILED;
}

const char* run_result_word(RunResult result) {
    switch (result) {
        case RunResult::VERIFIED: return "verified";
        case RunResult::CURRENT: return "current";
        case RunResult::NEEDS_UPGRADE: return "needs-upgrade";
        case RunResult::OTHER_MODEL: return "other-model";
        case RunResult::FAILED: break;
    }
    return "failed";
}

void run_outcome_version_before(const char* version) {
    std::lock_guard<std::mutex> lock(outcome_mutex);
    version_before = version;
}

void run_outcome_version_after(const char* version) {
    std::lock_guard<std::mutex> lock(outcome_mutex);
    version_after = version;
}

void run_exit_status_tells(bool tells) { status_tells.store(tells); }

int run_exit_status() {
    if (!status_tells.load()) return 0;
    std::lock_guard<std::mutex> lock(outcome_mutex);
    switch (outcome) {
        case RunResult::VERIFIED:
        case RunResult::CURRENT: return EXIT_VERIFIED;
        case RunResult::NEEDS_UPGRADE: return EXIT_NEEDS_UPGRADE;
        case RunResult::OTHER_MODEL:
        case RunResult::FAILED: break;
    }
    return EXIT_FAILED;
}

void run_end() {
    // A second end (another thread ending at the same moment) only ends the process.
    if (!ended.exchange(true)) {
        RunResult result = RunResult::FAILED;
        std::string text, before, after;
        {
            std::lock_guard<std::mutex> lock(outcome_mutex);
            result = outcome;
            text = box_text;
            before = version_before;
            after = version_after;
        }
        run_events().result(result, text.c_str(), before.c_str(), after.c_str());
    }
    process_exit(run_exit_status());
}
