// A modal dialog that cannot be created (the opener gets -1) is taken like Cancel wherever its
// answer decides what happens: the sequence stops, and the request runner gives up with
// "Upgrade Failed: User Abort" instead of sending a refused request again.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/device_request.h"
#include "app/upgrade_sequence.h"
#include "console/console_dialogs.h"
#include "console/console_input.h"
#include "console/console_output.h"
#include "console_capture.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "process_exit_guard.h"
#include "res/dialog_ids.h"

namespace {

class DialogFailure : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(upgrade_state.product_label, "TEV-4400");
        upgrade_state.device_ip = 0;
        upgrade_state.device_ip_text[0] = 0;
    }
    void TearDown() override { console_dialogs_refuse_creation(0); }
    ProcessExitGuard exit_guard;  // the sequence must return, not end the process
};

TEST_F(DialogFailure, AWarningThatCannotOpenEndsTheSequenceSilently) {
    console_dialogs_refuse_creation(DIALOG_WARNING);
    ConsoleCapture console("continue\n127.0.0.2\n\n\n");
    EXPECT_EQ(run_upgrade_sequence(), 0);
    EXPECT_EQ(console.printed(), "");  // no address dialog, no message box
}

TEST_F(DialogFailure, AnAddressDialogThatCannotOpenEndsTheSequenceSilently) {
    console_dialogs_refuse_creation(DIALOG_ADDRESS_ADAPTER);
    ConsoleCapture console("continue\n127.0.0.2\n\n\n");
    EXPECT_EQ(run_upgrade_sequence(), 0);
    std::string printed = console.printed();
    EXPECT_NE(printed.find("== TEV-4400 Firmware Upgrade =="), std::string::npos);  // the warning
    EXPECT_EQ(printed.find("Connecting with TEV@"), std::string::npos);
    EXPECT_EQ(printed.find("Upgrade Failed"), std::string::npos);
    EXPECT_EQ(upgrade_state.device_ip, 0u);
}

// The device refuses, the password dialog cannot open: the user abort, and no second request
// (a server scripted with the page would otherwise answer the resend and the runner return).
void refused_request_without_password_dialog() {
    console_output_use(stderr);
    console_input_use(open("/dev/null", O_RDONLY));  // the box is dismissed at once
    console_dialogs_refuse_creation(DIALOG_PASSWORD);
    std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
    std::strcpy(upgrade_state.device_ip_text, "127.0.0.1");
    HttpTestServer server(
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"TEV\", nonce=\"n1\", "
         "qop=\"auth\"\r\n\r\n",
         "HTTP/1.1 200 OK\r\n\r\n<tr><td>Software Version:</td><td>3.2.9(b)</td></tr>\n"});
    run_device_request(nullptr, LOOPBACK, free_local_port(), LOOPBACK, server.port(),
                       "/admin/advanced", upgrade_state.response_buffer, RESPONSE_LIMIT);
}

TEST(DialogFailureDeathTest, APasswordDialogThatCannotOpenIsAUserAbort) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(refused_request_without_password_dialog(), ::testing::ExitedWithCode(1),
                "TEV Firwmare Upgrade Error ==\nUpgrade Failed: User Abort\n");
}

}  // namespace
