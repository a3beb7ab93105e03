// What a run tells besides its dialogs: the events a watching program follows, and the outcome
// that becomes the process's exit status. Every end of the upgrade goes through run_end().
#pragma once
#include <cstdint>

#include "core/device_info.h"

constexpr int EXIT_VERIFIED = 0;  // the success dialog was shown
constexpr int EXIT_FAILED = 1;    // a failure, a Cancel, a User Abort, Ctrl-C, another model
constexpr int EXIT_USAGE = 2;     // a wrong command line
constexpr int EXIT_NEEDS_UPGRADE = 3;  // --check: the device answered at another version

// How a run ended: failed, the image verified on the device, the device already at the image's
// version (--skip-current, --check), a check that found it at another version, or a device of a
// model no image is for, which was sent nothing (not done: status 1).
enum class RunResult { FAILED, VERIFIED, CURRENT, NEEDS_UPGRADE, OTHER_MODEL };
// The word the events and the reports use: failed, verified, current, needs-upgrade, other-model.
const char* run_result_word(RunResult result);

// The run's events, called from the thread where each happens. Every call does nothing unless a
// receiver overrides it; strings from the device are passed on as they came.
class RunEvents {
public:
    virtual void started(const char* /*program_version*/, const char* /*product*/,
                         const char* /*image_version*/) {}
    virtual void status_read(const DeviceInfo& /*device*/) {}
    // Before each connect attempt after the first failed one (the device does not answer).
    virtual void connecting(int /*attempt*/, int /*attempts*/) {}
    // --check: the device's values and what it found: CURRENT, NEEDS_UPGRADE (its version is not
    // the image's) or OTHER_MODEL.
    virtual void check(const DeviceInfo& /*device*/, RunResult /*found*/) {}
    virtual void confirmed() {}
    virtual void listening(unsigned /*port*/) {}
    // The upgrade command was sent: answered when the device took it (an answer came back).
    virtual void commanded(bool /*answered*/) {}
    virtual void request_from(std::uint32_t /*address*/, unsigned /*port*/) {}
    // At most as often as the upload's progress is drawn; the last count always.
    virtual void upload(std::uint32_t /*bytes*/, std::uint32_t /*total*/) {}
    virtual void uploaded() {}
    virtual void flash_wait(int /*seconds_left*/) {}
    virtual void verify(int /*attempt*/) {}
    // The run's last event: the box's text, the device's version before and after the upgrade
    // (empty when not read).
    virtual void result(RunResult /*result*/, const char* /*text*/,
                        const char* /*version_before*/, const char* /*version_after*/) {}

protected:
    ~RunEvents() = default;
};

// The receiver the program's entry installs (nullptr: none); every call of run_events() reaches it.
void run_events_use(RunEvents* events);
RunEvents& run_events();

// The outcome, as the run goes: the last error box's text, or the success dialog; the versions.
void run_outcome_failed(const char* box_text);
void run_outcome_verified(const char* box_text);
// An end without an upgrade: CURRENT, NEEDS_UPGRADE or OTHER_MODEL with the text to show.
void run_outcome_settled(RunResult result, const char* text);
// Whether the run has its result already: the device verified, current or read by a check.
bool run_outcome_is_settled();
void run_outcome_version_before(const char* version);
void run_outcome_version_after(const char* version);
// Whether the exit status tells the outcome (the default, which both programs keep); without,
// every end gives 0.
void run_exit_status_tells(bool tells);
int run_exit_status();
// The end of the run, from any thread: the result event, then the process ends with its status.
[[noreturn]] void run_end();
