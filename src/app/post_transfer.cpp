// The wait of about 30 seconds while the device writes its flash, and the check that it now
// runs the version it was given.
#include "app/post_transfer.h"

#include <cstdio>
#include <cstring>

#include "app/device_request.h"
#include "app/status_answer.h"
#include "app/upgrade_sequence.h"
#include "core/run_phases.h"
#include "core/run_report.h"
#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "res/dialog_ids.h"
#include "ui/dialog_procs.h"
#include "ui/error_box.h"

namespace {

std::uint32_t current_tick() { return clock_ms() >> TICK_SHIFT; }

bool at_target_stage() { return upgrade_state.stage.load() != STAGE_TRANSITION; }

const char* expected_version() {
    return image_version(at_target_stage() ? upgrade_state.target_image
                                           : upgrade_state.transition_image);
}

// After the transition image the device must run a version that no longer needs it: only then
// may it be given the target image, which an older device might not survive.
bool transition_taken(const char* reported) {
    if (!needs_transition(reported, image_version(upgrade_state.transition_image))) return true;
    trace("The device still reports a version older than the transition image: no target stage\n");
    show_error_box("Upgrade Failed: Version not matching");
    return false;
}

// One page received: compare versions (not for the handset) and, at the target, celebrate.
// Whether the device runs what it was given.
bool check_version() {
    const char* expected = expected_version();
    const char* reported = upgrade_state.device_info.software_version;
    trace("[%d]%s %s\n", static_cast<int>(upgrade_state.stage.load()), expected, reported);
    run_outcome_version_after(reported);
    bool same = std::strcmp(expected, reported) == 0;
    trace("Verification: the device reports \"%s\", the image is \"%s\": %s\n", reported,
          expected,
          same ? "the same"
               : (upgrade_state.is_phone_model != 0 ? "different, not compared for the handset"
                                                    : "different"));
    if (upgrade_state.is_phone_model == 0 && !same) {
        show_error_box("Upgrade Failed: Version not matching");
        return false;
    }
    if (!at_target_stage()) return transition_taken(reported);
    dialog_run_modal(upgrade_state.app_instance, DIALOG_SUCCESS, success_dialog_proc);
    return true;
}

// An answer after the flash that is no status page: a login this program cannot answer (a 401
// whose challenges it cannot take) or an error status, without any of the five values. It ends
// with the box the status query gives for the same answer; a version comparison would call it
// "Version not matching", and the handset, whose version is not compared, a success.
bool refused_status_page(std::int32_t received) {
    const char* answer = upgrade_state.response_buffer;
    if (answer_carries_status_values(answer) ||
        judge_status_answer(answer, received) == StatusVerdict::NOT_A_TEV) {
        return false;
    }
    trace_not_a_tev(upgrade_state.device_ip_text, answer, received);
    char text[STATUS_BOX_TEXT_SIZE];
    status_box_text(answer, received, text, sizeof text);
    show_error_box(text);
    return true;
}

}  // namespace

std::uint32_t ticks_since(std::uint32_t start_tick, std::uint32_t now_tick) {
    if (now_tick < start_tick) now_tick += TICK_WRAP;
    return now_tick - start_tick;
}

int flash_seconds_left(std::uint32_t elapsed_ticks) {
    if (elapsed_ticks >= FLASH_WAIT_TICKS) return 0;
    std::uint32_t left_ms = (FLASH_WAIT_TICKS - elapsed_ticks) << TICK_SHIFT;
    return static_cast<int>((left_ms + 999) / 1000);
}

void wait_for_flash() {
    WindowHandle dialog = upgrade_state.upload_dialog;
    trace("Waiting %lu ms while the device writes its flash\n",
          static_cast<unsigned long>(FLASH_WAIT_TICKS << TICK_SHIFT));
    std::uint32_t start = current_tick();
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, static_cast<int>(FLASH_WAIT_TICKS));
    dialog_progress_position(dialog, CONTROL_PROGRESS, 0);
    char title[128];
    std::snprintf(title, sizeof title, "Updating %s Firmware to TEV@%s",
                  at_target_stage() ? "Target" : "Transition", upgrade_state.device_ip_text);
    dialog_set_title(dialog, title);
    int seconds_told = -1;
    for (;;) {
        std::uint32_t elapsed = ticks_since(start, current_tick());
        dialog_progress_position(dialog, CONTROL_PROGRESS, static_cast<int>(elapsed));
        int seconds_left = flash_seconds_left(elapsed);
        if (seconds_left != seconds_told) {
            run_events().flash_wait(seconds_left);
            seconds_told = seconds_left;
        }
        dialog_pump_all(dialog);
        if (elapsed >= FLASH_WAIT_TICKS) break;
        clock_sleep_ms(1u << TICK_SHIFT);
    }
    dialog_destroy(dialog);
    upgrade_state.upload_dialog = nullptr;
}

bool verify_upgrade(const TftpSession* session, bool upload_failed, std::uint16_t device_port) {
    if (upload_failed) {
        trace("Upload incomplete: no verification\n");
        show_error_box("Upgrade Failed: Firmware Upload Incomplete");
        return false;
    }
    // Only a version the device reports after the flash may confirm it: a page without the
    // label must not pass on the one read before the upgrade.
    upgrade_state.device_info.software_version[0] = 0;
    // The device is asked at the address the user typed, which answered the status query and
    // took the upgrade command, not at the read request's source: a device may send its request
    // from another of its addresses, and a stranger that asked first must not be the one to
    // confirm the upgrade.
    for (int attempt = 0; attempt < VERIFY_ATTEMPTS; ++attempt) {
        trace("Verification query %d of %d\n", attempt + 1, VERIFY_ATTEMPTS);
        run_events().verify(attempt + 1);
        std::int32_t received = run_device_request(
            upgrade_state.app_instance, session->local_ip, HTTP_LOCAL_PORT, upgrade_state.device_ip,
            device_port, STATUS_PAGE_PATH, upgrade_state.response_buffer, RESPONSE_LIMIT,
            status_answer_limit_ms());
        if (received > 0) {
            run_phase_end(RunPhase::FLASH);
            return !refused_status_page(received) && check_version();
        }
    }
    trace("No status page after %d queries\n", VERIFY_ATTEMPTS);
    // Without a page the user could not tell whether the device took the firmware; say so.
    show_error_box("Upgrade Failed: No Response From TEV");
    return false;
}

void finish_after_transfer(const TftpSession* session, bool upload_failed) {
    // The last block is acknowledged: the image is out, and the device's flash begins.
    if (!upload_failed) {
        run_phase_end(RunPhase::TRANSFER);
        run_phase_begin(RunPhase::FLASH);
    }
    wait_for_flash();
    bool verified = verify_upgrade(session, upload_failed);
    // A transition stage that failed ends the upgrade with its box: the device is not sent the
    // target image, and a rerun decides again from the version it reports.
    if (!verified && !at_target_stage()) {
        trace("The transition stage failed: the upgrade ends here\n");
        run_end();
    }
}
