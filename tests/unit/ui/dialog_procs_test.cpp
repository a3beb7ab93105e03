// The dialog procedures against the in-memory dialogs: what each writes when it opens, where the
// focus goes, the end codes, the address check with the list and the file name, the password
// limits, and the abort of the modeless dialogs.
#include "ui/dialog_procs.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "console/console_input.h"
#include "console/console_output.h"
#include "console/dialog_model.h"
#include "console_capture.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "res/dialog_ids.h"
#include "res/dialog_texts.h"
#include "test_support.h"
#include "ui/error_box.h"

namespace {

const std::string& traced = kept_trace();

void set_version(FirmwareImage* image, const char* version) {
    std::memset(image->header, 0, sizeof image->header);
    std::strcpy(reinterpret_cast<char*>(image->header + IMAGE_VERSION_OFFSET), version);
}

class DialogProcs : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(upgrade_state.product_label, "TEV-4400");
        upgrade_state.is_phone_model = 0;
        upgrade_state.stage = STAGE_TARGET;
        set_version(&upgrade_state.target_image, "3.2.9(b)");
        set_version(&upgrade_state.transition_image, "3.1.0");
        std::memset(upgrade_state.local_addresses, 0, sizeof upgrade_state.local_addresses);
        upgrade_state.local_addresses[0] = 0xC0A8000A;
        upgrade_state.local_addresses[1] = 0x0A000005;
        upgrade_state.local_ip = 0xC0A8000A;
        upgrade_state.device_ip = 0;
        std::strcpy(upgrade_state.device_ip_text, "10.1.0.123");
        upgrade_state.tftp_file_name[0] = 0;
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
        std::memset(&upgrade_state.device_info, 0, sizeof upgrade_state.device_info);
        model_set_screen_size(640, 480);
        keep_trace();
    }
    void TearDown() override {
        stop_keeping_trace();
        if (dialog != nullptr) model_dialog_remove(dialog);
    }

    ModelDialog* open(int id, DialogProc procedure) {
        dialog = static_cast<ModelDialog*>(dialog_open_modeless(nullptr, id, procedure));
        return dialog;
    }
    std::string text(int id) { return model_control(dialog, id)->text; }

    ModelDialog* dialog = nullptr;
};

void expect_centred(const ModelDialog& dialog) {
    int width = dialog.rect.right - dialog.rect.left;
    int height = dialog.rect.bottom - dialog.rect.top;
    EXPECT_EQ(dialog.rect.left, (640 - width) / 2);
    EXPECT_EQ(dialog.rect.top, (480 - height) / 2);
    EXPECT_GT(width, 0);
}

// --- Modal dialogs: opening, end codes ---

TEST_F(DialogProcs, WarningShowsTheTextWithCancelFocusedAndEndsOneOrZero) {
    open(DIALOG_WARNING, warning_dialog_proc);
    EXPECT_EQ(dialog->title, "TEV-4400 Firmware Upgrade");
    EXPECT_EQ(text(CONTROL_WARNING_TEXT), text_warning);
    EXPECT_EQ(dialog->focus_id, CONTROL_CANCEL);
    expect_centred(*dialog);

    EXPECT_EQ(model_send_command(dialog, CONTROL_WARNING_TEXT), 0);  // not a command it knows
    EXPECT_FALSE(dialog->ended);
    EXPECT_EQ(warning_dialog_proc(dialog, 0x0010 /* WM_CLOSE */, 0, 0), 0);
    EXPECT_EQ(model_send_command(dialog, CONTROL_OK), 1);
    EXPECT_TRUE(dialog->ended);
    EXPECT_EQ(dialog->end_code, 1);
    dialog->ended = false;
    // Only the low 16 bits name the command; the notification code above them does not matter.
    EXPECT_EQ(warning_dialog_proc(dialog, DIALOG_MESSAGE_COMMAND, 0x00050002, 0), 1);
    EXPECT_EQ(dialog->end_code, 0);
}

TEST_F(DialogProcs, PasswordOpensWithAdminAndEmptyPasswordWhateverWasStored) {
    std::strcpy(upgrade_state.auth.user_name, "bob");
    std::strcpy(upgrade_state.auth.password, "old");
    open(DIALOG_PASSWORD, password_dialog_proc);
    EXPECT_EQ(dialog->title, "Enter Password Information");
    EXPECT_EQ(text(CONTROL_TEXT_PANEL), text_password_notice);
    EXPECT_EQ(text(CONTROL_USER_NAME), "admin");
    EXPECT_EQ(text(CONTROL_PASSWORD), "");
    EXPECT_EQ(dialog->focus_id, CONTROL_PASSWORD);
    expect_centred(*dialog);

    model_control(dialog, CONTROL_PASSWORD)->text = "typed";
    model_send_command(dialog, CONTROL_CANCEL);
    EXPECT_EQ(dialog->end_code, 0);
    EXPECT_STREQ(upgrade_state.auth.user_name, "bob");  // Cancel stores nothing
    EXPECT_STREQ(upgrade_state.auth.password, "old");
    model_dialog_remove(dialog);

    open(DIALOG_PASSWORD, password_dialog_proc);
    EXPECT_EQ(text(CONTROL_USER_NAME), "admin");
    EXPECT_EQ(text(CONTROL_PASSWORD), "");
}

TEST_F(DialogProcs, PasswordOkStoresAtMost126CharactersOfEach) {
    open(DIALOG_PASSWORD, password_dialog_proc);
    model_control(dialog, CONTROL_USER_NAME)->text = std::string(200, 'u');
    model_control(dialog, CONTROL_PASSWORD)->text = std::string(127, 'p');
    EXPECT_EQ(model_send_command(dialog, CONTROL_OK), 1);
    EXPECT_EQ(dialog->end_code, 1);
    EXPECT_EQ(std::string(upgrade_state.auth.user_name), std::string(126, 'u'));
    EXPECT_EQ(std::string(upgrade_state.auth.password), std::string(126, 'p'));

    model_dialog_remove(dialog);
    open(DIALOG_PASSWORD, password_dialog_proc);
    model_control(dialog, CONTROL_USER_NAME)->text = "";
    model_send_command(dialog, CONTROL_OK);
    EXPECT_STREQ(upgrade_state.auth.user_name, "");  // empty fields give empty texts
    EXPECT_STREQ(upgrade_state.auth.password, "");
}

// A user name the digest header cannot carry gets a box before anything is sent with it; the
// dialog stays, focus on the name, nothing stored, until a name it takes.
TEST_F(DialogProcs, PasswordRefusesAUserNameTheHeaderCannotCarry) {
    for (const char* user : {"ad\"min", "admin\\", "ad\nmin", "a\x7F"}) {
        SCOPED_TRACE(user);
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
        ConsoleCapture console("\n");
        open(DIALOG_PASSWORD, password_dialog_proc);
        model_control(dialog, CONTROL_USER_NAME)->text = user;
        model_control(dialog, CONTROL_PASSWORD)->text = "pw";
        model_send_command(dialog, CONTROL_OK);
        EXPECT_FALSE(dialog->ended);
        EXPECT_STREQ(upgrade_state.auth.user_name, "");
        EXPECT_STREQ(upgrade_state.auth.password, "");
        EXPECT_EQ(dialog->focus_id, CONTROL_USER_NAME);
        EXPECT_EQ(console.printed(), std::string("\n== Error ==\n") + USER_NAME_REFUSED_TEXT + "\nOK [OK]: \n");
        model_control(dialog, CONTROL_USER_NAME)->text = "J\xC3\xBCrgen 2";
        model_send_command(dialog, CONTROL_OK);
        EXPECT_TRUE(dialog->ended);
        EXPECT_STREQ(upgrade_state.auth.user_name, "J\xC3\xBCrgen 2");
        model_dialog_remove(dialog);
        dialog = nullptr;
    }
}

TEST_F(DialogProcs, ConfirmShowsTheDeviceAndLeavesTheFocusToUpgrade) {
    DeviceInfo& device = upgrade_state.device_info;
    std::strcpy(device.product_name, "TEV-4400");
    std::strcpy(device.mac_address, "00:0A:0B:0C:0D:0E");
    std::strcpy(device.software_version, "3.1.7");
    std::strcpy(device.hardware_version, "HW2");
    std::strcpy(device.serial_number, "SN-0042");
    open(DIALOG_CONFIRM, confirm_dialog_proc);
    EXPECT_EQ(dialog->title, "Confirm Upgrade to Ver. 3.2.9(b)");
    EXPECT_EQ(text(CONTROL_TEXT_PANEL), text_confirm_intro);
    EXPECT_EQ(text(CONTROL_SERIAL_NUMBER), "SN-0042");
    EXPECT_EQ(text(CONTROL_MAC_ADDRESS), "00:0A:0B:0C:0D:0E");
    EXPECT_EQ(text(CONTROL_SOFTWARE_VERSION), "3.1.7");
    EXPECT_EQ(text(CONTROL_HARDWARE_VERSION), "HW2");
    EXPECT_EQ(text(CONTROL_PRODUCT_NAME), "TEV-4400");
    EXPECT_EQ(dialog->focus_id, CONTROL_OK);
    expect_centred(*dialog);
    model_send_command(dialog, CONTROL_OK);
    EXPECT_EQ(dialog->end_code, 1);
}

TEST_F(DialogProcs, ConfirmAtTheTransitionStageAddsTheNoteEndingInALineBreak) {
    upgrade_state.stage = STAGE_TRANSITION;
    open(DIALOG_CONFIRM_TRANSITION, confirm_dialog_proc);
    EXPECT_EQ(text(CONTROL_TEXT_PANEL),
              std::string(text_confirm_intro) +
                  "\r\n\r\nNote: Since your current firmware version\r\n"
                  "is older than 3.1.0, this upgrade procedure\r\n"
                  "requires additional steps and will be\r\nslightly longer.\r\n");
    EXPECT_EQ(dialog->title, "Confirm Upgrade to Ver. 3.2.9(b)");
}

TEST_F(DialogProcs, SuccessShowsTheReportedVersionAndItsCloseBoxEndsWithZero) {
    std::strcpy(upgrade_state.device_info.software_version, "3.2.9(b)");
    open(DIALOG_SUCCESS, success_dialog_proc);
    EXPECT_EQ(dialog->title, "TEV@10.1.0.123 Upgrade Successful!");
    EXPECT_EQ(text(CONTROL_TEXT_PANEL), text_success);
    EXPECT_EQ(text(CONTROL_SOFTWARE_VERSION), "3.2.9(b)");
    EXPECT_EQ(dialog->focus_id, CONTROL_OK);
    EXPECT_EQ(model_control(dialog, CONTROL_CANCEL), nullptr);
    expect_centred(*dialog);
    model_send_command(dialog, CONTROL_CANCEL);
    EXPECT_TRUE(dialog->ended);
    EXPECT_EQ(dialog->end_code, 0);
}

// --- The address dialog ---

TEST_F(DialogProcs, AddressOpensWithTheListUpToTheFirstZeroAndEntryZeroSelected) {
    upgrade_state.local_addresses[2] = 0;
    upgrade_state.local_addresses[3] = 0x01010101;  // after the 0: not shown
    open(DIALOG_ADDRESS_ADAPTER, address_dialog_proc);
    ModelControl& list = *model_control(dialog, CONTROL_LOCAL_ADDRESS_LIST);
    EXPECT_EQ(list.entries, (std::vector<std::string>{"192.168.0.10", "10.0.0.5"}));
    EXPECT_EQ(list.selection, 0);
    EXPECT_EQ(dialog->title, "TEV-4400 Firmware Upgrade");
    EXPECT_EQ(text(CONTROL_TEXT_PANEL), text_address_intro);
    EXPECT_EQ(text(CONTROL_ADDRESS_HELP), text_address_help_adapter);
    EXPECT_EQ(text(CONTROL_IMAGE_VERSION), "Version 3.2.9(b)");
    EXPECT_EQ(text(CONTROL_DEVICE_ADDRESS), "");
    EXPECT_EQ(dialog->focus_id, CONTROL_DEVICE_ADDRESS);
    expect_centred(*dialog);
}

TEST_F(DialogProcs, AddressListShowsAtMostEightInTheirOwnOrder) {
    for (int i = 0; i < LOCAL_ADDRESS_COUNT; ++i) {
        upgrade_state.local_addresses[i] =
            0x0A000000u + static_cast<std::uint32_t>(LOCAL_ADDRESS_COUNT - i);
    }
    upgrade_state.is_phone_model = 1;
    open(DIALOG_ADDRESS_PHONE, address_dialog_proc);
    const ModelControl& list = *model_control(dialog, CONTROL_LOCAL_ADDRESS_LIST);
    ASSERT_EQ(list.entries.size(), 8u);
    EXPECT_EQ(list.entries.front(), "10.0.0.8");
    EXPECT_EQ(list.entries.back(), "10.0.0.1");
    EXPECT_EQ(text(CONTROL_ADDRESS_HELP), text_address_help_phone);
    EXPECT_EQ(dialog->title, "TEV-4400 Firmware Upgrade");  // the template's "Dialog" never shows
}

TEST_F(DialogProcs, AddressOkSetsDeviceLocalAddressAndAFreshFileName) {
    open(DIALOG_ADDRESS_ADAPTER, address_dialog_proc);
    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = "10.1.0.123";
    dialog_list_select(dialog, CONTROL_LOCAL_ADDRESS_LIST, 1);
    random_seed(77);
    int first_draw = random_next() & 0xFFFF;
    int second_draw = random_next() & 0xFFFF;
    random_seed(77);

    EXPECT_EQ(model_send_command(dialog, CONTROL_OK), 1);
    EXPECT_TRUE(dialog->ended);
    EXPECT_EQ(dialog->end_code, 1);
    EXPECT_EQ(upgrade_state.device_ip, 0x0A01007Bu);
    EXPECT_STREQ(upgrade_state.device_ip_text, "10.1.0.123");
    EXPECT_EQ(upgrade_state.local_ip, 0x0A000005u);
    char name[32];
    std::snprintf(name, sizeof name, "/tev%x.bi1", first_draw);
    EXPECT_STREQ(upgrade_state.tftp_file_name, name);
    EXPECT_TRUE(
        std::regex_match(upgrade_state.tftp_file_name, std::regex("/tev[0-9a-f]{1,4}\\.bi1")));
    EXPECT_EQ(traced, "+++ using a000005\n");

    // Each OK that passes draws anew; the suffix is the stage of that moment.
    upgrade_state.stage = STAGE_TRANSITION;
    dialog->ended = false;
    model_send_command(dialog, CONTROL_OK);
    std::snprintf(name, sizeof name, "/tev%x.bi0", second_draw);
    EXPECT_STREQ(upgrade_state.tftp_file_name, name);
}

TEST_F(DialogProcs, AddressRefusesMalformedAndZeroAddressesAndKeepsTheDialogOpen) {
    for (const char* typed : {"0.0.0.0", "1.22.333", "", "10.1.0", "1234567890123.4"}) {
        SCOPED_TRACE(typed);
        ConsoleCapture console("\n");
        open(DIALOG_ADDRESS_ADAPTER, address_dialog_proc);
        model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = typed;
        dialog->focus_id = CONTROL_OK;  // where a click leaves it
        EXPECT_EQ(model_send_command(dialog, CONTROL_OK), 1);
        EXPECT_FALSE(dialog->ended);
        EXPECT_EQ(upgrade_state.device_ip, 0u);
        EXPECT_STREQ(upgrade_state.device_ip_text, typed);
        EXPECT_STREQ(upgrade_state.tftp_file_name, "");
        EXPECT_EQ(upgrade_state.local_ip, 0xC0A8000Au);
        EXPECT_EQ(dialog->focus_id, CONTROL_DEVICE_ADDRESS);
        EXPECT_EQ(console.printed(), "\n== Error ==\nInvalid IP Address\nOK [OK]: \n");
        EXPECT_EQ(traced, "");

        // Cancel afterwards keeps what the refused OK left.
        model_send_command(dialog, CONTROL_CANCEL);
        EXPECT_EQ(dialog->end_code, 0);
        EXPECT_STREQ(upgrade_state.device_ip_text, typed);
        model_dialog_remove(dialog);
        dialog = nullptr;
    }
}

TEST_F(DialogProcs, AddressTextIsCutToItsField) {
    ConsoleCapture console("");
    open(DIALOG_ADDRESS_ADAPTER, address_dialog_proc);
    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = std::string(40, '1');
    model_send_command(dialog, CONTROL_OK);
    EXPECT_EQ(std::string(upgrade_state.device_ip_text), std::string(31, '1'));
    EXPECT_FALSE(dialog->ended);
}

// With no local address the list has no selection: the OK must not index the addresses with it.
TEST_F(DialogProcs, AddressWithNoLocalAddressKeepsTheStartUpLocalAddress) {
    std::memset(upgrade_state.local_addresses, 0, sizeof upgrade_state.local_addresses);
    upgrade_state.local_ip = 0;
    open(DIALOG_ADDRESS_ADAPTER, address_dialog_proc);
    EXPECT_TRUE(model_control(dialog, CONTROL_LOCAL_ADDRESS_LIST)->entries.empty());
    EXPECT_EQ(dialog_list_selection(dialog, CONTROL_LOCAL_ADDRESS_LIST), -1);
    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = "10.1.0.123";
    model_send_command(dialog, CONTROL_OK);
    EXPECT_EQ(dialog->end_code, 1);
    EXPECT_EQ(upgrade_state.local_ip, 0u);
    EXPECT_EQ(upgrade_state.device_ip, 0x0A01007Bu);
}

// --- Modeless dialogs ---

TEST_F(DialogProcs, ConnectingShowsTheDeviceAndAHundredStepBar) {
    open(DIALOG_CONNECTING, connecting_dialog_proc);
    EXPECT_EQ(dialog->title, "Connecting with TEV@10.1.0.123");
    const ModelControl& bar = *model_control(dialog, CONTROL_PROGRESS);
    EXPECT_EQ(bar.progress_minimum, 0);
    EXPECT_EQ(bar.progress_maximum, 100);
    expect_centred(*dialog);
    EXPECT_EQ(model_send_command(dialog, CONTROL_OK), 0);  // no OK to handle
    EXPECT_FALSE(dialog->ended);
}

TEST_F(DialogProcs, TransferDialogsKeepWhatTheirCreatorsSet) {
    for (int id : {DIALOG_WAITING, DIALOG_UPLOAD}) {
        open(id, transfer_dialog_proc);
        EXPECT_EQ(dialog->title, find_dialog_template(id)->title);
        expect_centred(*dialog);
        EXPECT_EQ(model_send_command(dialog, CONTROL_OK), 0);
        model_dialog_remove(dialog);
        dialog = nullptr;
    }
}

// Cancel in a modeless dialog: the dialog goes, then the box, then the process ends with 0.
void abort_by_cancel(int id, DialogProc procedure) {
    console_output_use(stderr);
    console_input_use(open("/dev/null", O_RDONLY));  // no input: the box is dismissed at once
    auto* dialog = static_cast<ModelDialog*>(dialog_open_modeless(nullptr, id, procedure));
    dialog_show(dialog);
    model_send_command(dialog, CONTROL_CANCEL);
}

TEST(ModelessAbort, CancelEndsTheProcessAfterTheUserAbortBox) {
    const char* box = "TEV Firwmare Upgrade Error ==\nUpgrade Failed: User Abort\nOK \\[OK\\]: \n$";
    EXPECT_EXIT(abort_by_cancel(DIALOG_CONNECTING, connecting_dialog_proc),
                ::testing::ExitedWithCode(1), box);
    EXPECT_EXIT(abort_by_cancel(DIALOG_WAITING, transfer_dialog_proc), ::testing::ExitedWithCode(1),
                box);
    EXPECT_EXIT(abort_by_cancel(DIALOG_UPLOAD, transfer_dialog_proc), ::testing::ExitedWithCode(1),
                box);
}

// --- Centring on the model's screen ---

TEST(Centring, AWindowWiderThanTheScreenGoesLeftRoundingDown) {
    auto* dialog = static_cast<ModelDialog*>(
        dialog_open_modeless(nullptr, DIALOG_UPLOAD, transfer_dialog_proc));
    int width = dialog->rect.right - dialog->rect.left;
    int height = dialog->rect.bottom - dialog->rect.top;
    model_set_screen_size(width - 3, height + 1);
    center_window(dialog);
    EXPECT_EQ(dialog->rect.left, -2);
    EXPECT_EQ(dialog->rect.top, 0);
    EXPECT_EQ(dialog->rect.right - dialog->rect.left, width);  // the size stays
    model_set_screen_size(640, 480);
    model_dialog_remove(dialog);
    ScreenRect rect;
    EXPECT_FALSE(window_screen_rect(dialog, &rect));
    center_window(dialog);  // a window that is gone: nothing happens
}

}  // namespace
