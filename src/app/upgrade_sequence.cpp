// The upgrade sequence on the main thread: warning, address, status query, the transition
// decision, confirmation, the listener, the upgrade command; then the listener thread takes over.
#include "app/upgrade_sequence.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/device_http.h"
#include "app/device_request.h"
#include "app/status_answer.h"
#include "app/transfer_dialogs.h"
#include "core/run_phases.h"
#include "core/run_report.h"
#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "res/dialog_ids.h"
#include "tftp/tftp_listener.h"
#include "ui/dialog_procs.h"
#include "ui/error_box.h"

namespace {

constexpr std::uint32_t STAGE_POLL_MS = 10;
// Once idle the main thread has nothing left to look at: the process ends from the listener
// thread or a dialog's Cancel. It blocks in long sleeps, so that a run of hundreds of devices side
// by side does not wake a hundred times a second per device for nothing.
constexpr std::uint32_t IDLE_SLEEP_MS = 60 * 1000;

// True for OK (Continue, Upgrade). A dialog the system could not create (an end code below 0)
// counts as Cancel: nobody has confirmed anything.
bool dialog_accepted(int template_id, DialogProc procedure) {
    return dialog_run_modal(upgrade_state.app_instance, template_id, procedure) > 0;
}

constexpr const char* NO_COMMAND_ADDRESS_TEXT =
    "Upgrade Failed: No Address Of This Computer Known For The TEV To Fetch From";

std::int32_t query_status_page() {
    return run_device_request(upgrade_state.app_instance, upgrade_state.local_ip, HTTP_LOCAL_PORT,
                              upgrade_state.device_ip, HTTP_DEVICE_PORT, STATUS_PAGE_PATH,
                              upgrade_state.response_buffer, RESPONSE_LIMIT,
                              status_answer_limit_ms());
}

void decide_transition() {
    if (upgrade_state.stage.load() != STAGE_TRANSITION) return;
    if (!needs_transition(upgrade_state.device_info.software_version,
                          image_version(upgrade_state.transition_image))) {
        upgrade_state.stage.store(STAGE_TARGET);
    }
}

StatusAction status_action = StatusAction::UPGRADE;
const char* given_device = nullptr;
const char* given_local = nullptr;
bool any_model = false;

// The warning is an upgrade's: a check changes nothing.
bool warning_accepted() {
    return status_action == StatusAction::CHECK || dialog_accepted(DIALOG_WARNING, warning_dialog_proc);
}

// The address dialog, unless a check was given the device: then nothing is asked.
bool address_taken() {
    if (status_action == StatusAction::CHECK && given_device != nullptr) {
        return take_address_without_dialog(given_device, given_local);
    }
    int address_dialog = upgrade_state.is_phone_model != 0 ? DIALOG_ADDRESS_PHONE
                                                           : DIALOG_ADDRESS_ADAPTER;
    return dialog_accepted(address_dialog, address_dialog_proc) && upgrade_state.device_ip != 0;
}

// The one line a check or a skipped device ends with.
std::string device_line(const char* verdict) {
    const DeviceInfo& d = upgrade_state.device_info;
    char line[6 * DEVICE_TEXT_SIZE + 160];
    std::snprintf(line, sizeof line, "%s at %s: MAC %s, serial %s, hardware %s, software %s: %s",
                  d.product_name, upgrade_state.device_ip_text, d.mac_address, d.serial_number,
                  d.hardware_version, d.software_version, verdict);
    return line;
}

// --check and --skip-current end here, before anything is sent to the device.
void settle_without_upgrade() {
    bool current = device_is_current(upgrade_state.device_info.software_version);
    std::string wanted = std::string("needs the upgrade to ") +
                         image_version(upgrade_state.target_image);
    if (status_action == StatusAction::CHECK) {
        run_events().check(upgrade_state.device_info,
                           current ? RunResult::CURRENT : RunResult::NEEDS_UPGRADE);
        run_outcome_settled(current ? RunResult::CURRENT : RunResult::NEEDS_UPGRADE,
                            device_line(current ? "current" : wanted.c_str()).c_str());
        run_end();
    }
    if (status_action == StatusAction::SKIP_CURRENT && current) {
        trace("The device already runs %s: no upgrade\n", upgrade_state.device_info.software_version);
        run_outcome_version_after(upgrade_state.device_info.software_version);
        run_outcome_settled(RunResult::CURRENT, device_line("already current").c_str());
        run_end();
    }
}

// A device of a model no image is for: nothing is sent, a check tells it, an upgrade says it in a
// box before the confirmation would come; the run ends with other-model (status 1).
[[noreturn]] void leave_other_model() {
    const DeviceInfo& d = upgrade_state.device_info;
    std::string reason = other_model_reason(d.product_name);
    trace("No image for the device's model: %s; nothing is sent\n", reason.c_str());
    if (status_action == StatusAction::CHECK) {
        run_events().check(d, RunResult::OTHER_MODEL);
    } else {
        show_error_box(("Upgrade Failed: the device is of another model: " + reason).c_str());
    }
    run_outcome_settled(RunResult::OTHER_MODEL, reason.c_str());
    run_end();
}

void copy_product_label(const char* label) {
    std::snprintf(upgrade_state.product_label, PRODUCT_LABEL_SIZE, "%s", label);
}

[[noreturn]] void idle_forever() {
    for (;;) clock_sleep_ms(IDLE_SLEEP_MS);
}

[[noreturn]] void run_second_stage(std::uint32_t address, std::uint16_t port) {
    while (upgrade_state.stage.load() != STAGE_TARGET) clock_sleep_ms(STAGE_POLL_MS);
    std::snprintf(upgrade_state.tftp_file_name, TFTP_FILE_NAME_SIZE, "/tev%x.bi1",
                  static_cast<unsigned>(random_next() & 0xFFFF));
    send_upgrade_command(address, port);
    idle_forever();
}

}  // namespace

void upgrade_sequence_set_action(StatusAction action) { status_action = action; }

bool upgrade_sequence_checks() { return status_action == StatusAction::CHECK; }

void upgrade_sequence_set_addresses(const char* device, const char* local) {
    given_device = device;
    given_local = local;
}

void upgrade_sequence_set_any_model(bool any) { any_model = any; }

const RunImage* use_image_for_device(const char* product_name, bool any) {
    const RunImage* image = run_image_for_product(product_name);
    if (image == nullptr && any) {
        image = run_images_carried();
        if (image != nullptr) trace("No image for the device's model; --any-model: this program's own\n");
    }
    run_image_choose(image);
    if (image == nullptr) return nullptr;
    trace("The image for the device: %s, version %s, %lu bytes%s%s\n", image->product,
          image_version(image->image), static_cast<unsigned long>(image->image.size),
          image->file.empty() ? ", this program's own" : ", from ", image->file.c_str());
    if (image->file.empty()) return image;
    std::string problem;
    if (!run_image_load(image, &problem)) fail_upgrade(("Upgrade Failed: " + problem).c_str());
    upgrade_state.target_image = image->image;
    copy_product_label(image->product);
    upgrade_state.is_phone_model = image->is_phone_model;
    // The transition image goes before this program's own target image only.
    upgrade_state.stage.store(STAGE_TARGET);
    return image;
}

void check_device_model() {
    const RunImage* image = use_image_for_device(upgrade_state.device_info.product_name, any_model);
    run_events().status_read(upgrade_state.device_info);
    if (image == nullptr) leave_other_model();
}

bool device_is_current(const char* device_version) {
    return std::strcmp(device_version, image_version(upgrade_state.target_image)) == 0;
}

bool needs_transition(const char* device_version, const char* transition_version) {
    if (std::strstr(device_version, TRANSITION_MARKER) != nullptr) return true;
    return version_value(device_version) < version_value(transition_version);
}

std::uint32_t upgrade_command_address(std::uint32_t chosen, std::uint32_t status_query_from) {
    return chosen != 0 ? chosen : status_query_from;
}

int format_upgrade_command(std::uint32_t ip, std::uint16_t port, char* path) {
    return std::snprintf(path, COMMAND_PATH_SIZE, UPGRADE_COMMAND_FORMAT, (ip >> 24) & 0xFFu,
                  (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu, static_cast<unsigned>(port),
                  upgrade_state.tftp_file_name);
}

void send_upgrade_command(std::uint32_t address, std::uint16_t port) {
    char path[COMMAND_PATH_SIZE];
    // The names the program makes always fit; a cut command would fetch the wrong file.
    if (format_upgrade_command(address, port, path) >= COMMAND_PATH_SIZE) {
        trace("Upgrade command too long, not sent\n");
        return;
    }
    trace("Sending the upgrade command: GET %s\n", path);
    run_phase_begin(RunPhase::TRANSFER);
    std::int32_t received = run_device_request(
        upgrade_state.app_instance, upgrade_state.local_ip, HTTP_LOCAL_PORT,
        upgrade_state.device_ip, HTTP_DEVICE_PORT, path, upgrade_state.response_buffer,
        RESPONSE_LIMIT);
    trace("Upgrade command %s; the device is to ask for %s\n",
          received > 0 ? "answered" : "got no answer", upgrade_state.tftp_file_name);
    run_events().commanded(received > 0);
}

int run_upgrade_sequence() {
    if (!warning_accepted() || !address_taken()) return 0;
    trace("Status query to %s\n", upgrade_state.device_ip_text);
    run_phase_begin(RunPhase::STATUS);
    std::int32_t received = query_status_page();
    if (received <= 0) {
        trace("No status page from the device\n");
        show_error_box("Upgrade Failed: No Response From TEV");
        return 0;
    }
    // A host that answers without any of the status page's values must not be sent the upgrade
    // command; the box says what it answered instead.
    if (!carries_status_values(upgrade_state.device_info)) {
        trace_not_a_tev(upgrade_state.device_ip_text, upgrade_state.response_buffer, received);
        char text[STATUS_BOX_TEXT_SIZE];
        status_box_text(upgrade_state.response_buffer, received, text, sizeof text);
        show_error_box(text);
        return 0;
    }
    run_phase_end(RunPhase::STATUS);
    // "Any address" (0.0.0.0) in the command would send the device nowhere.
    std::uint32_t command_ip =
        upgrade_command_address(upgrade_state.local_ip, http_last_connected_from());
    if (command_ip == 0) {
        trace("No address of this computer is known for the upgrade command\n");
        show_error_box(NO_COMMAND_ADDRESS_TEXT);
        return 0;
    }
    run_outcome_version_before(upgrade_state.device_info.software_version);
    check_device_model();
    settle_without_upgrade();
    decide_transition();
    bool transition_first = upgrade_state.stage.load() == STAGE_TRANSITION;
    int confirm_dialog = transition_first ? DIALOG_CONFIRM_TRANSITION : DIALOG_CONFIRM;
    trace("Device: product \"%s\", software \"%s\", hardware \"%s\"\n",
          upgrade_state.device_info.product_name, upgrade_state.device_info.software_version,
          upgrade_state.device_info.hardware_version);
    if (!dialog_accepted(confirm_dialog, confirm_dialog_proc)) {
        trace("Upgrade not confirmed\n");
        show_error_box("Upgrade Failed: User Abort");
        return 0;
    }
    run_events().confirmed();
    auto port = static_cast<std::uint16_t>(
        start_tftp_listener(upgrade_state.local_ip, transfer_dialogs()) & 0xFFFFu);
    run_events().listening(port);
    send_upgrade_command(command_ip, port);
    if (!transition_first) idle_forever();
    run_second_stage(command_ip, port);
}
