// The console front end: how a dialog is printed, the order and defaults of its questions, the
// end of input as Cancel, message boxes, and the progress and Cancel of modeless dialogs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "console/console_input.h"
#include "console/console_output.h"
#include "console/dialog_model.h"
#include "console/dialog_questions.h"
#include "console_capture.h"
#include "core/upgrade_state.h"
#include "res/dialog_ids.h"
#include "test_support.h"
#include "ui/dialog_procs.h"
#include "ui/ipv4_parse.h"

namespace {

class ConsoleFrontEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(upgrade_state.product_label, "TEV-4400");
        upgrade_state.is_phone_model = 0;
        upgrade_state.stage = STAGE_TARGET;
        std::memset(&upgrade_state.target_image, 0, sizeof upgrade_state.target_image);
        std::strcpy(
            reinterpret_cast<char*>(upgrade_state.target_image.header + IMAGE_VERSION_OFFSET),
            "3.2.9(b)");
        std::memset(upgrade_state.local_addresses, 0, sizeof upgrade_state.local_addresses);
        upgrade_state.local_addresses[0] = 0xC0A8000A;
        upgrade_state.local_addresses[1] = 0x0A000005;
        upgrade_state.local_ip = 0xC0A8000A;
        upgrade_state.device_ip = 0;
        upgrade_state.device_ip_text[0] = 0;
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
    }
};

// The positions of the parts in the text, in the order given; npos for a part that is missing
// or out of order.
void expect_in_order(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
        std::size_t found = text.find(part, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << part << "\nin:\n"
                                            << text;
        if (found == std::string::npos) return;
        at = found + part.size();
    }
}

// --- Modal dialogs ---

TEST_F(ConsoleFrontEnd, WarningPrintsTitleAndTextAndEnterTakesCancel) {
    ConsoleCapture console("\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_WARNING, warning_dialog_proc), 0);
    std::string printed = console.printed();
    EXPECT_EQ(printed.substr(0, 33), "\n== TEV-4400 Firmware Upgrade ==\n");
    expect_in_order(printed,
                    {"WARNING: Forcing a firmware upgrade on your TEV\nwithout prior approval",
                     "service.  If your TEV", "any onus on the end user to upgrade manually.\n",
                     "Continue/Cancel [Cancel]: \n"});
    EXPECT_EQ(printed.find('\r'), std::string::npos);
}

TEST_F(ConsoleFrontEnd, ButtonsAreChosenByCaptionInAnyCaseAndWrongAnswersAskAgain) {
    ConsoleCapture console("maybe\n  CONTINUE \n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_WARNING, warning_dialog_proc), 1);
    std::string printed = console.printed();
    EXPECT_EQ(occurrences(printed, "Continue/Cancel [Cancel]: "), 2);
    EXPECT_NE(printed.find("Type one of Continue/Cancel, or press Enter for Cancel.\n"),
              std::string::npos);
}

TEST_F(ConsoleFrontEnd, AButtonMayBeNamedByTheStartOfItsCaptionWhenThatIsUnique) {
    ConsoleCapture console("c\nco\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_WARNING, warning_dialog_proc), 1);  // "c" is both
    ConsoleCapture confirm("c\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_CONFIRM, confirm_dialog_proc), 0);
}

TEST_F(ConsoleFrontEnd, EndOfInputIsCancelWithNothingMoreShown) {
    for (int id : {DIALOG_WARNING, DIALOG_ADDRESS_ADAPTER, DIALOG_PASSWORD, DIALOG_CONFIRM,
                   DIALOG_SUCCESS}) {
        SCOPED_TRACE(id);
        ConsoleCapture console("");
        std::strcpy(upgrade_state.auth.user_name, "kept");
        DialogProc procedure = id == DIALOG_WARNING           ? warning_dialog_proc
                               : id == DIALOG_ADDRESS_ADAPTER ? address_dialog_proc
                               : id == DIALOG_PASSWORD        ? password_dialog_proc
                               : id == DIALOG_CONFIRM         ? confirm_dialog_proc
                                                              : success_dialog_proc;
        EXPECT_EQ(dialog_run_modal(nullptr, id, procedure), 0);
        std::string printed = console.printed();
        EXPECT_EQ(occurrences(printed, "== "), 1) << printed;  // the dialog's own title only
        EXPECT_STREQ(upgrade_state.auth.user_name, "kept");
    }
}

TEST_F(ConsoleFrontEnd, AddressAsksForTheAddressThenTheListThenTheButton) {
    ConsoleCapture console("10.1.0.123\n2\n\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
    std::string printed = console.printed();
    expect_in_order(
        printed, {"== TEV-4400 Firmware Upgrade ==\n",
                  "This program will upgrade your TEV\nfirmware to:\n", "Version 3.2.9(b)\n",
                  "Please enter IP address of your TEV:\n", "TEV IP Address: 10.1.0.123\n",
                  "Your IP Address (1: 192.168.0.10, 2: 10.0.0.5) [1]: 2\n", "OK/Cancel [OK]: \n"});
    EXPECT_EQ(upgrade_state.device_ip, 0x0A01007Bu);
    EXPECT_EQ(upgrade_state.local_ip, 0x0A000005u);
    EXPECT_EQ(printed.find("IPAddress1"), std::string::npos);         // a caption never shown
    EXPECT_EQ(printed.find("Your IP Address\n"), std::string::npos);  // it names the list
}

// "Your IP Address" defaults to the entry the system would send from to reach the typed device
// (here loopback, listed second); a number typed picks another, and the OK keeps it.
TEST_F(ConsoleFrontEnd, TheListDefaultsToTheAddressThatReachesTheDevice) {
    upgrade_state.local_addresses[1] = 0x7F000001;
    {
        ConsoleCapture console("127.0.0.2\n\n\n");
        EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
        EXPECT_NE(console.printed().find("Your IP Address (1: 192.168.0.10, 2: 127.0.0.1) [2]: \n"),
                  std::string::npos)
            << console.printed();
        EXPECT_EQ(upgrade_state.local_ip, 0x7F000001u);
    }
    ConsoleCapture console("127.0.0.2\n1\n\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
    EXPECT_EQ(upgrade_state.local_ip, 0xC0A8000Au);
}

// Answers that fill the dialog and press OK without answering the list get the same default;
// an entry picked through the dialog interface stays; a device the listed addresses do not
// reach defaults to the first entry.
TEST_F(ConsoleFrontEnd, AnOkWithoutAListAnswerTakesTheRoutedEntry) {
    upgrade_state.local_addresses[1] = 0x7F000001;
    ModelDialog* dialog = model_dialog_create(DIALOG_ADDRESS_ADAPTER, address_dialog_proc);
    ASSERT_NE(dialog, nullptr);
    ModelControl& list = *model_control(dialog, CONTROL_LOCAL_ADDRESS_LIST);
    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = "127.0.0.2";
    model_send_command(dialog, CONTROL_OK);
    EXPECT_EQ(upgrade_state.local_ip, 0x7F000001u);

    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = "10.1.0.123";
    model_select_routed_entry(*dialog);
    EXPECT_EQ(list.selection, 0);
    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = "1.22.333";  // no address: no change
    list.selection = 1;
    model_select_routed_entry(*dialog);
    EXPECT_EQ(list.selection, 1);

    dialog->ended = false;
    model_control(dialog, CONTROL_DEVICE_ADDRESS)->text = "127.0.0.2";
    dialog_list_select(dialog, CONTROL_LOCAL_ADDRESS_LIST, 0);
    model_send_command(dialog, CONTROL_OK);
    EXPECT_EQ(upgrade_state.local_ip, 0xC0A8000Au);
    model_dialog_remove(dialog);
}

TEST_F(ConsoleFrontEnd, RefusedAddressShowsTheBoxAndAsksAgainKeepingWhatWasTyped) {
    // Three rounds of address, list and button; a box to dismiss after each refusal.
    ConsoleCapture console(
        "1.22.333\n\n\n"
        "\n"
        "\n\n\n"
        "\n"
        "10.0.0.5\n\nok\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
    std::string printed = console.printed();
    expect_in_order(printed, {"TEV IP Address: 1.22.333\n", "OK/Cancel [OK]: \n",
                              "\n== Error ==\nInvalid IP Address\nOK [OK]: \n",
                              "TEV IP Address [1.22.333]: \n", "OK/Cancel [OK]: \n", "== Error ==",
                              "TEV IP Address [1.22.333]: 10.0.0.5\n", "OK/Cancel [OK]: ok\n"});
    EXPECT_EQ(occurrences(printed, "Invalid IP Address"), 2);
    EXPECT_EQ(upgrade_state.device_ip, 0x0A000005u);
}

// With the program's check installed, an address that does not read is refused as it is typed,
// with the reason, and asked for again; no box, and the list question comes only after.
TEST_F(ConsoleFrontEnd, TheAddressQuestionRefusesAnUnreadableAddressAtOnce) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.0.0", "it is shorter than 7 characters"},
        {"10.20.30", "it has fewer than four numbers"},
        {"10.0.0.256", "a number is greater than 255"},
        {"1.2.3.4.5", "it has more than four numbers"},
        {"10.0.0.5 ", "only digits and full stops make an address"},
        {"10.000.000.00005", "it is longer than 15 characters"},
        {"0.0.0.0", "0.0.0.0 names no device"},
    };
    console_address_check_use(ipv4_refusal);
    for (const auto& [typed, reason] : cases) {
        SCOPED_TRACE(typed);
        ConsoleCapture console(std::string(typed) + "\n10.0.0.5\n\n\n");
        EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
        std::string printed = console.printed();
        expect_in_order(printed, {std::string("TEV IP Address: ") + typed + "\n",
                                  std::string("is not an address: ") + reason + ". Type four",
                                  "TEV IP Address: 10.0.0.5\n", "Your IP Address"});
        EXPECT_EQ(occurrences(printed, "Your IP Address"), 1);
        EXPECT_EQ(occurrences(printed, "Invalid IP Address"), 0);
        EXPECT_EQ(upgrade_state.device_ip, 0x0A000005u);
    }
    console_address_check_use(nullptr);
}

TEST_F(ConsoleFrontEnd, ListTakesAnEntryByItsTextAndRefusesOthers) {
    ConsoleCapture console("10.1.0.123\n3\n10.0.0.5\n\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
    EXPECT_NE(console.printed().find("Type a number from the list, or one of its entries.\n"),
              std::string::npos);
    EXPECT_EQ(upgrade_state.local_ip, 0x0A000005u);
}

TEST_F(ConsoleFrontEnd, PasswordDialogKeepsAdminOnEnterAndNeverPrintsThePassword) {
    ConsoleCapture console("\nsecret word\n\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_PASSWORD, password_dialog_proc), 1);
    std::string printed = console.printed();
    expect_in_order(printed,
                    {"== Enter Password Information ==\n", "This TEV requires a password",
                     "information.\n", "User [admin]: \n", "Password: \n", "OK/Cancel [OK]: \n"});
    EXPECT_EQ(printed.find("secret"), std::string::npos);
    EXPECT_STREQ(upgrade_state.auth.user_name, "admin");
    EXPECT_STREQ(upgrade_state.auth.password, "secret word");
}

TEST_F(ConsoleFrontEnd, ConfirmPrintsTheIntroFirstAndEachValueWithItsLabel) {
    std::strcpy(upgrade_state.device_info.serial_number, "SN-0042");
    std::strcpy(upgrade_state.device_info.product_name, "TEV-4400");
    ConsoleCapture console("upgrade\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_CONFIRM, confirm_dialog_proc), 1);
    expect_in_order(console.printed(),
                    {"== Confirm Upgrade to Ver. 3.2.9(b) ==\n", "like to quit click \"Cancel\".\n",
                     "Serial Number: SN-0042\n", "MAC Address: \n", "Software Version: \n",
                     "Hardware Version: \n", "Product Name: TEV-4400\n",
                     "Upgrade/Cancel [Upgrade]: upgrade\n"});
}

TEST_F(ConsoleFrontEnd, AnUnknownDialogCannotBeRun) {
    ConsoleCapture console("");
    EXPECT_EQ(dialog_run_modal(nullptr, 102, warning_dialog_proc), -1);
    EXPECT_EQ(console.printed(), "");
}

// --- Message boxes ---

TEST_F(ConsoleFrontEnd, AMessageBoxTakesOneLineAndLeavesTheRest) {
    ConsoleCapture console("anything\nnext\n");
    EXPECT_EQ(message_box_task_modal("Upgrade Failed: No Response From TEV",
                                     "TEV Firwmare Upgrade Error"),
              MESSAGE_BOX_OK);
    EXPECT_EQ(console.printed(),
              "\n== TEV Firwmare Upgrade Error ==\nUpgrade Failed: No Response From TEV\nOK [OK]: "
              "anything\n");
    std::string line;
    EXPECT_EQ(console_read_line(&line, false), InputResult::LINE);
    EXPECT_EQ(line, "next");
}

// --- Modeless dialogs ---

std::vector<int> commands_seen;
std::intptr_t recording_proc(WindowHandle, unsigned message, std::uintptr_t wparam, std::intptr_t) {
    if (message == DIALOG_MESSAGE_COMMAND)
        commands_seen.push_back(static_cast<int>(wparam & 0xFFFF));
    return message == DIALOG_MESSAGE_COMMAND;
}

class ModelessConsole : public ConsoleFrontEnd {
protected:
    void SetUp() override {
        ConsoleFrontEnd::SetUp();
        commands_seen.clear();
    }
    void TearDown() override {
        if (dialog != nullptr) dialog_destroy(dialog);
    }
    void open(int id) {
        dialog = dialog_open_modeless(nullptr, id, recording_proc);
        dialog_show(dialog);
    }
    WindowHandle dialog = nullptr;
};

TEST_F(ModelessConsole, ProgressPrintsALineEachTenthAndAgainAfterANewRange) {
    ConsoleCapture console("", true);
    open(DIALOG_UPLOAD);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 1854);
    for (int block = 0; block <= 1854; ++block) {
        char title[96];
        std::snprintf(title, sizeof title,
                      "Uploading Target Firmware to TEV@10.1.0.123 %d/948814 Bytes", block * 512);
        dialog_set_title(dialog, title);  // counting on: no line of its own
        dialog_progress_position(dialog, CONTROL_PROGRESS, block);
        dialog_pump_all(dialog);
    }
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 937);
    dialog_progress_position(dialog, CONTROL_PROGRESS, 0);
    dialog_set_title(dialog, "Updating Target Firmware to TEV@10.1.0.123");
    dialog_pump_one(dialog);
    dialog_progress_position(dialog, CONTROL_PROGRESS, 470);
    dialog_pump_one(dialog);
    std::string printed = console.printed();
    expect_in_order(
        printed,
        {"\n== Uploading Firmware To TEV ==\n",
         "Please do not unplug the power of your TEV until the Status Light stops\nblinking\n",
         "Cancel: type cancel and press Enter, or press Ctrl-C.\n",
         "Uploading Target Firmware to TEV@10.1.0.123 0/948814 Bytes: 0%\n", "Bytes: 10%\n",
         "Bytes: 50%\n", "/948814 Bytes: 100%\n",
         "Updating Target Firmware to TEV@10.1.0.123: 0%\n",
         "Updating Target Firmware to TEV@10.1.0.123: 50%\n"});
    EXPECT_EQ(occurrences(printed, "Bytes: "), 11);
    EXPECT_EQ(occurrences(printed, "Updating"), 2);
    EXPECT_TRUE(commands_seen.empty());
}

// As the transfer runs it: the last acknowledgement sets the final count, and the wait takes a new
// range and title before anyone looks at the dialog; the final count is shown all the same, once.
TEST_F(ModelessConsole, APhaseEndingUnseenShowsItsLastStateBeforeTheNextRange) {
    ConsoleCapture console("", true);
    open(DIALOG_UPLOAD);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 3);
    const char* titles[] = {"Uploading Target Firmware to TEV@10.1.0.123 0/1100 Bytes",
                            "Uploading Target Firmware to TEV@10.1.0.123 512/1100 Bytes",
                            "Uploading Target Firmware to TEV@10.1.0.123 1024/1100 Bytes",
                            "Uploading Target Firmware to TEV@10.1.0.123 1100/1100 Bytes"};
    for (int ack = 0; ack < 4; ++ack) {
        dialog_progress_position(dialog, CONTROL_PROGRESS, ack + 1);
        dialog_set_title(dialog, titles[ack]);
        if (ack < 3) dialog_pump_all(dialog);
    }
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 937);
    dialog_progress_position(dialog, CONTROL_PROGRESS, 0);
    dialog_set_title(dialog, "Updating Target Firmware to TEV@10.1.0.123");
    dialog_pump_all(dialog);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 937);  // a phase seen to its end: no repeat
    std::string printed = console.printed();
    expect_in_order(printed, {"512/1100 Bytes: 60%\n", "1024/1100 Bytes: 100%\n",
                              "1100/1100 Bytes: 100%\n",
                              "Updating Target Firmware to TEV@10.1.0.123: 0%\n"});
    EXPECT_EQ(occurrences(printed, "Bytes: 100%"), 2);
    EXPECT_EQ(occurrences(printed, "Updating"), 1);
}

// A pseudo-terminal for the console's output, whose far end the test reads.
class TerminalOutput {
public:
    TerminalOutput() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave >= 0) file_ = fdopen(slave, "w");
        if (file_ != nullptr) console_output_use(file_);
    }
    ~TerminalOutput() {
        console_output_use(stdout);
        if (file_ != nullptr) std::fclose(file_);
        if (master_ >= 0) close(master_);
    }
    TerminalOutput(const TerminalOutput&) = delete;
    TerminalOutput& operator=(const TerminalOutput&) = delete;
    bool ready() const { return file_ != nullptr; }
    std::string drawn() {
        std::fflush(file_);
        std::string text;
        char chunk[4096];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 100) > 0) {
            ssize_t got = read(master_, chunk, sizeof chunk);
            if (got <= 0) break;
            text.append(chunk, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    int master_ = -1;
    std::FILE* file_ = nullptr;
};

// On a terminal the bar is redrawn on one line of 80 columns; a long title keeps its counts, and
// a finished phase keeps its line.
TEST_F(ModelessConsole, OnATerminalALongTitleKeepsItsCountsAndAFinishedPhaseItsLine) {
    ConsoleCapture console("", true);
    TerminalOutput terminal;
    ASSERT_TRUE(terminal.ready());
    open(DIALOG_UPLOAD);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 1854);
    dialog_set_title(dialog, "Connecting with TEV@10.1.0.123");
    dialog_pump_all(dialog);
    EXPECT_NE(terminal.drawn().find("\rConnecting with TEV@10.1.0.123 [--------------------]   0%"),
              std::string::npos);
    dialog_set_title(dialog, "Uploading Target Firmware to TEV@127.0.0.2 948814/948814 Bytes");
    dialog_progress_position(dialog, CONTROL_PROGRESS, 1854);
    dialog_pump_all(dialog);
    EXPECT_NE(terminal.drawn().find("\rUploading Target Firmware to TEV@127.0.0.2 948814/948814 "
                                    "Bytes [##########] 100%\x1b[K"),
              std::string::npos);
    dialog_set_title(dialog,
                     "Uploading Transition Firmware to TEV@255.255.255.255 33553919/33553919 Bytes");
    dialog_pump_all(dialog);
    EXPECT_NE(terminal.drawn().find("\rUploading Transition Firmware to TEV@255.255.255.255 "
                                    "33553919/33553919 Byte 100%\x1b[K"),
              std::string::npos);
    // A phase that ends unseen is drawn as the next begins, and keeps its line.
    dialog_set_title(dialog, "Uploading Target Firmware to TEV@127.0.0.2 948814/948814 Bytes");
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 937);
    EXPECT_NE(terminal.drawn().find("948814/948814 Bytes [##########] 100%\x1b[K\r\n"),
              std::string::npos);
}

TEST_F(ModelessConsole, TextsSetAfterOpeningArePrintedAtTheNextLook) {
    ConsoleCapture console("", true);
    open(DIALOG_WAITING);
    dialog_set_item_text(dialog, CONTROL_WAITING_TEXT,
                         "Firmware upload will begin when the TEV is idle.");
    dialog_pump_all(dialog);
    dialog_pump_all(dialog);
    std::string printed = console.printed();
    EXPECT_EQ(occurrences(printed, "Firmware upload will begin when the TEV is idle.\n"), 1);
    expect_in_order(printed, {"== Waiting For Firmware Download Request From TEV ==\n",
                              "Firmware upload will begin", "Cancel: type cancel"});
}

TEST_F(ModelessConsole, CancelLinePressesCancelOtherLinesWaitForTheNextQuestion) {
    ConsoleCapture console("10.1.0.123\ncancel\n", true);
    open(DIALOG_CONNECTING);
    EXPECT_FALSE(dialog_pump_one(dialog));  // the address is for a question, not for this dialog
    EXPECT_TRUE(commands_seen.empty());
    std::string line;
    ASSERT_EQ(console_read_line(&line, false), InputResult::LINE);
    EXPECT_EQ(line, "10.1.0.123");
    EXPECT_TRUE(dialog_pump_one(dialog));
    EXPECT_EQ(commands_seen, std::vector<int>{CONTROL_CANCEL});
    EXPECT_FALSE(dialog_pump_one(dialog));
    EXPECT_NE(console.printed().find("\ncancel\n"), std::string::npos);
}

TEST_F(ModelessConsole, EndOfInputDoesNotCancelAModelessDialog) {
    ConsoleCapture console("");
    open(DIALOG_WAITING);
    for (int i = 0; i < 3; ++i) dialog_pump_all(dialog);
    EXPECT_TRUE(commands_seen.empty());
}

TEST_F(ModelessConsole, CtrlCPressesCancel) {
    ConsoleCapture console("", true);
    open(DIALOG_CONNECTING);
    raise(SIGINT);
    EXPECT_TRUE(dialog_pump_one(dialog));
    EXPECT_EQ(commands_seen, std::vector<int>{CONTROL_CANCEL});
}

TEST_F(ConsoleFrontEnd, CtrlCInAQuestionPressesCancel) {
    ConsoleCapture console("", true);
    console_input_prepare();
    std::thread interrupter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(getpid(), SIGINT);
    });
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_CONFIRM, confirm_dialog_proc), 0);
    interrupter.join();
}

// Headless (as the benchmark runs it): the dialogs still count and take Cancel, and nothing at
// all is printed, not even for a message box.
TEST_F(ModelessConsole, HeadlessPrintsNothingButStillTakesCancel) {
    ConsoleCapture console("cancel\n", true);
    console_output_use(nullptr);
    open(DIALOG_UPLOAD);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, 10);
    dialog_set_title(dialog, "Uploading Target Firmware to TEV@10.1.0.123 512/948814 Bytes");
    dialog_progress_position(dialog, CONTROL_PROGRESS, 5);
    EXPECT_TRUE(dialog_pump_one(dialog));
    EXPECT_EQ(commands_seen, std::vector<int>{CONTROL_CANCEL});
    EXPECT_EQ(model_control(model_dialog_find(dialog), CONTROL_PROGRESS)->progress_position, 5);
    console.end_input();
    EXPECT_EQ(message_box_task_modal("Upgrade Failed: User Abort", "Error"), MESSAGE_BOX_OK);
    dialog_destroy(dialog);
    dialog = nullptr;
    EXPECT_EQ(console.printed(), "");
}

TEST_F(ModelessConsole, AnUnshownOrDestroyedDialogIsNotPumped) {
    ConsoleCapture console("cancel\n");
    dialog = dialog_open_modeless(nullptr, DIALOG_CONNECTING, recording_proc);
    EXPECT_FALSE(dialog_pump_one(dialog));
    EXPECT_EQ(console.printed(), "");
    dialog_destroy(dialog);
    EXPECT_FALSE(dialog_pump_one(dialog));
    dialog = nullptr;
    EXPECT_TRUE(commands_seen.empty());
}

}  // namespace
