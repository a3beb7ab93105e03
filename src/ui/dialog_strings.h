// The short texts the dialog procedures compute: titles, list entries, the confirm text and the
// TFTP file name. Each writes a NUL-terminated text into out, cut to size.
#pragma once
#include <cstdint>

constexpr int DIALOG_TITLE_SIZE = 192;
// The confirm panel holds the intro, the transition note and a version of up to 35 characters.
constexpr int CONFIRM_TEXT_SIZE = 512;

// "%s Firmware Upgrade": the warning and address dialogs.
void format_product_title(char* out, int size, const char* product_label);
// "Version %s": the image version under the address dialog's intro.
void format_version_line(char* out, int size, const char* image_version);
// "%u.%u.%u.%u", most significant byte first.
void format_address(char* out, int size, std::uint32_t address);
// How many local addresses the address dialog lists: at most 8, up to the first 0.
int local_address_entry_count(const std::uint32_t* addresses, int count);
// "Confirm Upgrade to Ver. %s".
void format_confirm_title(char* out, int size, const char* image_version);
// The confirm panel: the intro alone, or at the transition stage the intro with the note naming
// the transition image's version.
void format_confirm_text(char* out, int size, std::int32_t stage, const char* transition_version);
// "Connecting with TEV@%s".
void format_connecting_title(char* out, int size, const char* device_ip_text);
// "TEV@%s Upgrade Successful!".
void format_success_title(char* out, int size, const char* device_ip_text);
// "/tev%x.bi%d": a random draw masked to 16 bits, then the stage.
void format_tftp_file_name(char* out, int size, int random_value, std::int32_t stage);
