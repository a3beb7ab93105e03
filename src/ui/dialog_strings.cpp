// The short texts the dialogs show, computed apart from the dialogs themselves.
#include "ui/dialog_strings.h"

#include <cstdio>

#include "core/upgrade_state.h"
#include "res/dialog_texts.h"

void format_product_title(char* out, int size, const char* product_label) {
    std::snprintf(out, size, "%s Firmware Upgrade", product_label);
}

void format_version_line(char* out, int size, const char* image_version) {
    std::snprintf(out, size, "Version %s", image_version);
}

void format_address(char* out, int size, std::uint32_t address) {
    std::snprintf(out, size, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
}

int local_address_entry_count(const std::uint32_t* addresses, int count) {
    int entries = 0;
    while (entries < count && addresses[entries] != 0) ++entries;
    return entries;
}

void format_confirm_title(char* out, int size, const char* image_version) {
    std::snprintf(out, size, "Confirm Upgrade to Ver. %s", image_version);
}

void format_confirm_text(char* out, int size, std::int32_t stage, const char* transition_version) {
    if (stage != STAGE_TRANSITION) {
        std::snprintf(out, size, "%s", text_confirm_intro);
        return;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(out, size, text_confirm_note_format, text_confirm_intro, transition_version);
#pragma GCC diagnostic pop
}

void format_connecting_title(char* out, int size, const char* device_ip_text) {
    std::snprintf(out, size, "Connecting with TEV@%s", device_ip_text);
}

void format_success_title(char* out, int size, const char* device_ip_text) {
    std::snprintf(out, size, "TEV@%s Upgrade Successful!", device_ip_text);
}

void format_tftp_file_name(char* out, int size, int random_value, std::int32_t stage) {
    std::snprintf(out, size, "/tev%x.bi%d", static_cast<unsigned>(random_value) & 0xFFFFu,
                  static_cast<int>(stage));
}
