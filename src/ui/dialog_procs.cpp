// The dialog procedures but the address dialog's: what each dialog shows when it opens and what
// its buttons do.
#include "ui/dialog_procs.h"

#include <cstdio>

#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "res/dialog_ids.h"
#include "res/dialog_texts.h"
#include "ui/dialog_strings.h"
#include "ui/error_box.h"

namespace {

constexpr std::intptr_t HANDLED = 1;
constexpr std::intptr_t NOT_HANDLED = 0;
// The answer to the init message: the procedure set the focus itself, or leaves it to the
// dialog manager (the first control with a tab stop).
constexpr std::intptr_t FOCUS_SET = 0;
constexpr std::intptr_t FOCUS_DEFAULT = 1;

constexpr int END_OK = 1;
constexpr int END_CANCEL = 0;
constexpr int PROGRESS_RANGE_MAX = 100;

int command_id(std::uintptr_t wparam) { return static_cast<int>(wparam & 0xFFFF); }

// Command 1 ends the dialog with 1, command 2 with 0; any other command is not handled.
std::intptr_t end_on_ok_or_cancel(WindowHandle dialog, std::uintptr_t wparam) {
    switch (command_id(wparam)) {
        case CONTROL_OK: dialog_end(dialog, END_OK); return HANDLED;
        case CONTROL_CANCEL: dialog_end(dialog, END_CANCEL); return HANDLED;
        default: return NOT_HANDLED;
    }
}

// Cancel in a modeless dialog ends the whole upgrade.
std::intptr_t abort_on_cancel(WindowHandle dialog, std::uintptr_t wparam) {
    if (command_id(wparam) != CONTROL_CANCEL) return NOT_HANDLED;
    dialog_destroy(dialog);
    fail_upgrade("Upgrade Failed: User Abort");
}

}  // namespace

std::intptr_t warning_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t) {
    if (message == DIALOG_MESSAGE_COMMAND) return end_on_ok_or_cancel(dialog, wparam);
    if (message != DIALOG_MESSAGE_INIT) return NOT_HANDLED;
    char title[DIALOG_TITLE_SIZE];
    format_product_title(title, sizeof title, upgrade_state.product_label);
    dialog_set_title(dialog, title);
    dialog_set_item_text(dialog, CONTROL_WARNING_TEXT, text_warning);
    dialog_focus_item(dialog, CONTROL_CANCEL);
    center_window(dialog);
    return FOCUS_SET;
}

std::intptr_t password_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t) {
    if (message == DIALOG_MESSAGE_INIT) {
        dialog_set_item_text(dialog, CONTROL_TEXT_PANEL, text_password_notice);
        dialog_set_item_text(dialog, CONTROL_USER_NAME, "admin");
        dialog_focus_item(dialog, CONTROL_PASSWORD);
        center_window(dialog);
        return FOCUS_SET;
    }
    if (message != DIALOG_MESSAGE_COMMAND) return NOT_HANDLED;
    if (command_id(wparam) == CONTROL_OK) {
        char user_name[AUTH_TEXT_SIZE];
        dialog_get_item_text(dialog, CONTROL_USER_NAME, user_name, AUTH_TEXT_SIZE - 1);
        // Refused before anything goes out with it; the dialog stays for a corrected name.
        if (!user_name_sendable(user_name)) {
            message_box_owned(dialog, USER_NAME_REFUSED_TEXT, "Error");
            dialog_focus_item(dialog, CONTROL_USER_NAME);
            return HANDLED;
        }
        std::snprintf(upgrade_state.auth.user_name, sizeof upgrade_state.auth.user_name, "%s",
                      user_name);
        dialog_get_item_text(dialog, CONTROL_PASSWORD, upgrade_state.auth.password,
                             AUTH_TEXT_SIZE - 1);
    }
    return end_on_ok_or_cancel(dialog, wparam);
}

bool user_name_sendable(const char* name) {
    for (const char* at = name; *at != 0; ++at) {
        auto c = static_cast<unsigned char>(*at);
        if (c == '"' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

std::intptr_t confirm_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t) {
    if (message == DIALOG_MESSAGE_COMMAND) return end_on_ok_or_cancel(dialog, wparam);
    if (message != DIALOG_MESSAGE_INIT) return NOT_HANDLED;
    char title[DIALOG_TITLE_SIZE];
    format_confirm_title(title, sizeof title, image_version(upgrade_state.target_image));
    dialog_set_title(dialog, title);
    char text[CONFIRM_TEXT_SIZE];
    format_confirm_text(text, sizeof text, upgrade_state.stage.load(),
                        image_version(upgrade_state.transition_image));
    dialog_set_item_text(dialog, CONTROL_TEXT_PANEL, text);
    const DeviceInfo& device = upgrade_state.device_info;
    dialog_set_item_text(dialog, CONTROL_SERIAL_NUMBER, device.serial_number);
    dialog_set_item_text(dialog, CONTROL_MAC_ADDRESS, device.mac_address);
    dialog_set_item_text(dialog, CONTROL_SOFTWARE_VERSION, device.software_version);
    dialog_set_item_text(dialog, CONTROL_HARDWARE_VERSION, device.hardware_version);
    dialog_set_item_text(dialog, CONTROL_PRODUCT_NAME, device.product_name);
    center_window(dialog);
    return FOCUS_DEFAULT;
}

std::intptr_t success_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t) {
    if (message == DIALOG_MESSAGE_COMMAND) return end_on_ok_or_cancel(dialog, wparam);
    if (message != DIALOG_MESSAGE_INIT) return NOT_HANDLED;
    char title[DIALOG_TITLE_SIZE];
    format_success_title(title, sizeof title, upgrade_state.device_ip_text);
    dialog_set_title(dialog, title);
    // The one outcome that is not a failure: the device reports the image's version.
    run_outcome_verified(title);
    dialog_set_item_text(dialog, CONTROL_TEXT_PANEL, text_success);
    dialog_set_item_text(dialog, CONTROL_SOFTWARE_VERSION,
                         upgrade_state.device_info.software_version);
    center_window(dialog);
    return FOCUS_DEFAULT;
}

std::intptr_t connecting_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t) {
    if (message == DIALOG_MESSAGE_COMMAND) return abort_on_cancel(dialog, wparam);
    if (message != DIALOG_MESSAGE_INIT) return NOT_HANDLED;
    char title[DIALOG_TITLE_SIZE];
    format_connecting_title(title, sizeof title, upgrade_state.device_ip_text);
    dialog_set_title(dialog, title);
    center_window(dialog);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, PROGRESS_RANGE_MAX);
    return FOCUS_DEFAULT;
}

std::intptr_t transfer_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                   std::intptr_t) {
    if (message == DIALOG_MESSAGE_COMMAND) return abort_on_cancel(dialog, wparam);
    if (message != DIALOG_MESSAGE_INIT) return NOT_HANDLED;
    center_window(dialog);
    return FOCUS_DEFAULT;
}
