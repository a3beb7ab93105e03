// The address dialog: the device's address typed by the user, the local address chosen from the
// list, and the TFTP file name the device will be told to fetch.
#include <cstdio>

#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net_address.h"
#include "res/dialog_ids.h"
#include "res/dialog_texts.h"
#include "ui/dialog_procs.h"
#include "ui/dialog_strings.h"
#include "ui/error_box.h"
#include "ui/ipv4_parse.h"

namespace {

constexpr int ADDRESS_ENTRY_SIZE = 16;

void fill_local_address_list(WindowHandle dialog) {
    int entries = local_address_entry_count(upgrade_state.local_addresses, LOCAL_ADDRESS_COUNT);
    for (int i = 0; i < entries; ++i) {
        char entry[ADDRESS_ENTRY_SIZE];
        format_address(entry, sizeof entry, upgrade_state.local_addresses[i]);
        dialog_list_add(dialog, CONTROL_LOCAL_ADDRESS_LIST, entry);
    }
    dialog_list_select(dialog, CONTROL_LOCAL_ADDRESS_LIST, 0);
}

std::intptr_t open_address_dialog(WindowHandle dialog) {
    fill_local_address_list(dialog);
    char text[DIALOG_TITLE_SIZE];
    format_product_title(text, sizeof text, upgrade_state.product_label);
    dialog_set_title(dialog, text);
    dialog_set_item_text(dialog, CONTROL_TEXT_PANEL, text_address_intro);
    dialog_set_item_text(
        dialog, CONTROL_ADDRESS_HELP,
        upgrade_state.is_phone_model == 1 ? text_address_help_phone : text_address_help_adapter);
    format_version_line(text, sizeof text, image_version(upgrade_state.target_image));
    dialog_set_item_text(dialog, CONTROL_IMAGE_VERSION, text);
    dialog_focus_item(dialog, CONTROL_DEVICE_ADDRESS);
    center_window(dialog);
    return 0;  // the focus is set
}

// With no entry selected (the computer reported no address) local_ip keeps its start-up value.
void take_local_address(WindowHandle dialog) {
    int index = dialog_list_selection(dialog, CONTROL_LOCAL_ADDRESS_LIST);
    if (index < 0 || index >= LOCAL_ADDRESS_COUNT) return;
    upgrade_state.local_ip = upgrade_state.local_addresses[index];
}

void accept_address(WindowHandle dialog) {
    dialog_get_item_text(dialog, CONTROL_DEVICE_ADDRESS, upgrade_state.device_ip_text,
                         DEVICE_IP_TEXT_SIZE);
    // Only the address counts: 0.0.0.0 parses, yet names no device.
    parse_ipv4_text(upgrade_state.device_ip_text, &upgrade_state.device_ip);
    if (upgrade_state.device_ip == 0) {
        message_box_owned(dialog, "Invalid IP Address", "Error");
        dialog_focus_item(dialog, CONTROL_DEVICE_ADDRESS);
        return;
    }
    format_tftp_file_name(upgrade_state.tftp_file_name, TFTP_FILE_NAME_SIZE, random_next(),
                          upgrade_state.stage.load());
    take_local_address(dialog);
    trace("+++ using %x\n", upgrade_state.local_ip);
    dialog_end(dialog, 1);
}

}  // namespace

std::intptr_t address_dialog_proc(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t) {
    if (message == DIALOG_MESSAGE_INIT) return open_address_dialog(dialog);
    if (message != DIALOG_MESSAGE_COMMAND) return 0;
    switch (static_cast<int>(wparam & 0xFFFF)) {
        case CONTROL_OK: accept_address(dialog); return 1;
        case CONTROL_CANCEL: dialog_end(dialog, 0); return 1;
        default: return 0;
    }
}

namespace {

bool is_local_address(std::uint32_t address) {
    int entries = local_address_entry_count(upgrade_state.local_addresses, LOCAL_ADDRESS_COUNT);
    for (int i = 0; i < entries; ++i) {
        if (upgrade_state.local_addresses[i] == address) return true;
    }
    return false;
}

}  // namespace

bool take_address_without_dialog(const char* device, const char* local) {
    std::snprintf(upgrade_state.device_ip_text, DEVICE_IP_TEXT_SIZE, "%s", device);
    parse_ipv4_text(upgrade_state.device_ip_text, &upgrade_state.device_ip);
    std::uint32_t chosen = 0;
    if (local != nullptr) {
        parse_ipv4_text(local, &chosen);
        if (!is_local_address(chosen)) {
            char text[96];
            std::snprintf(text, sizeof text, "Upgrade Failed: %s is not one of this computer's addresses",
                          local);
            show_error_box(text);
            return false;
        }
    } else {
        chosen = route_source_address(upgrade_state.device_ip);
    }
    if (is_local_address(chosen)) upgrade_state.local_ip = chosen;
    trace("+++ using %x\n", upgrade_state.local_ip);
    return upgrade_state.device_ip != 0;
}
