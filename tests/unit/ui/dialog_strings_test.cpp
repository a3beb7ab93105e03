// The short texts the dialogs compute, apart from any dialog.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/upgrade_state.h"
#include "res/dialog_texts.h"
#include "ui/dialog_strings.h"

namespace {

std::string file_name(int random_value, std::int32_t stage) {
    char out[TFTP_FILE_NAME_SIZE];
    format_tftp_file_name(out, sizeof out, random_value, stage);
    return out;
}

TEST(DialogStrings, FileNameIsLowerCaseHexWithoutLeadingZerosThenTheStage) {
    EXPECT_EQ(file_name(0x0ABC, STAGE_TARGET), "/tevabc.bi1");
    EXPECT_EQ(file_name(0, STAGE_TRANSITION), "/tev0.bi0");
    EXPECT_EQ(file_name(0x7FFF, STAGE_TARGET), "/tev7fff.bi1");
    EXPECT_EQ(file_name(0x1A2B, STAGE_TARGET), "/tev1a2b.bi1");
}

TEST(DialogStrings, AddressesReadMostSignificantByteFirst) {
    char out[16];
    format_address(out, sizeof out, 0xC0A8000A);
    EXPECT_STREQ(out, "192.168.0.10");
    format_address(out, sizeof out, 0xFFFFFFFF);
    EXPECT_STREQ(out, "255.255.255.255");
}

TEST(DialogStrings, TheListEndsAtTheFirstZeroOrAfterEight) {
    const std::uint32_t gap[8] = {1, 2, 0, 4, 5, 6, 7, 8};
    const std::uint32_t full[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::uint32_t none[8] = {};
    EXPECT_EQ(local_address_entry_count(gap, 8), 2);
    EXPECT_EQ(local_address_entry_count(full, 8), 8);
    EXPECT_EQ(local_address_entry_count(none, 8), 0);
}

TEST(DialogStrings, ConfirmTextTakesTheNoteOnlyAtTheTransitionStage) {
    char out[CONFIRM_TEXT_SIZE];
    format_confirm_text(out, sizeof out, STAGE_TARGET, "3.1.0");
    EXPECT_STREQ(out, text_confirm_intro);
    // The longest version a header holds still fits with the whole note.
    std::string version(35, '9');
    format_confirm_text(out, sizeof out, STAGE_TRANSITION, version.c_str());
    std::string text = out;
    EXPECT_EQ(text.size(), 152u + 148u - 4u + 35u);
    EXPECT_EQ(text.substr(text.size() - 18), "slightly longer.\r\n");
}

TEST(DialogStrings, Titles) {
    char out[DIALOG_TITLE_SIZE];
    format_product_title(out, sizeof out, "TEV-4000/4200");
    EXPECT_STREQ(out, "TEV-4000/4200 Firmware Upgrade");
    format_confirm_title(out, sizeof out, "3.2.9(b)");
    EXPECT_STREQ(out, "Confirm Upgrade to Ver. 3.2.9(b)");
    format_connecting_title(out, sizeof out, "10.1.0.123");
    EXPECT_STREQ(out, "Connecting with TEV@10.1.0.123");
    format_success_title(out, sizeof out, "10.1.0.123");
    EXPECT_STREQ(out, "TEV@10.1.0.123 Upgrade Successful!");
    format_version_line(out, sizeof out, "3.2.9(b)");
    EXPECT_STREQ(out, "Version 3.2.9(b)");
}

}  // namespace
