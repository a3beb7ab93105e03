// A modal dialog that cannot be created (the opener gets -1) is taken like Cancel wherever its
// answer decides what happens: the sequence stops, and the request runner gives up with
// "Upgrade Failed: User Abort" instead of sending a refused request again. Which path a device
// takes (the transition decision), the upgrade command's path, and the model check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/device_request.h"
#include "app/upgrade_sequence.h"
#include "console/console_dialogs.h"
#include "console/console_input.h"
#include "console/console_output.h"
#include "console_capture.h"
#include "core/run_images.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "main/event_stream.h"
#include "process_exit_guard.h"
#include "res/dialog_ids.h"
#include "ui/scripted_answers.h"

namespace {

class DialogFailure : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(upgrade_state.product_label, "TEV-4400");
        upgrade_state.is_phone_model = 0;  // the adapter's address dialog, whatever ran before
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

TEST(TransitionDecision, OlderDevicesAndTheMarkerTakeTheTransitionPath) {
    EXPECT_TRUE(needs_transition("3.0.9", "3.1.0"));
    EXPECT_FALSE(needs_transition("3.1.0", "3.1.0"));  // equal: straight to the target
    EXPECT_FALSE(needs_transition("3.2.9(b)", "3.1.0"));
    EXPECT_TRUE(needs_transition("9.9.9(NT)", "3.1.0"));
    EXPECT_FALSE(needs_transition("9.9.9(nt)", "3.1.0"));  // the marker counts as written
}

TEST(UpgradeCommand, ThePathNamesOurAddressTheListenersPortAndTheFileName) {
    std::strcpy(upgrade_state.tftp_file_name, "/tev1a2b.bi1");
    char path[COMMAND_PATH_SIZE];
    int length = format_upgrade_command(0xC0A8000Au, 69, path);  // 192.168.0.10
    EXPECT_STREQ(path, "/admin/upgrade?tftp://192.168.0.10:69/tev1a2b.bi1");
    EXPECT_EQ(length, static_cast<int>(std::strlen(path)));
    // The port the listener got after others were taken; the bytes in order, high first.
    format_upgrade_command(0xFE01020Fu, 71, path);
    EXPECT_STREQ(path, "/admin/upgrade?tftp://254.1.2.15:71/tev1a2b.bi1");
    upgrade_state.tftp_file_name[0] = 0;
}

TEST(UpgradeCommand, TheAddressChosenOrElseTheOneTheStatusQueryLeftFrom) {
    const struct {
        std::uint32_t chosen, status_query_from, named;
    } cases[] = {
        {0xC0A8000Au, 0x0A000001u, 0xC0A8000Au},  // a chosen address wins
        {0xC0A8000Au, 0, 0xC0A8000Au},
        {0, 0x0A000001u, 0x0A000001u},            // "any": the connection's own address
        {0, 0, 0},                                // neither: nothing a device could fetch from
    };
    for (const auto& c : cases) {
        EXPECT_EQ(upgrade_command_address(c.chosen, c.status_query_from), c.named)
            << std::hex << c.chosen << " " << c.status_query_from;
    }
}

// The model check, after the status page and before anything else is sent: the program carries
// a TEV-4400 image and a transition image; a handset's image is given in a file.
class ModelCheck : public ::testing::Test {
protected:
    static std::vector<std::uint8_t> image_bytes(const char* id, const char* version) {
        std::vector<std::uint8_t> bytes(4096, 0x5A);
        std::memset(bytes.data(), 0, IMAGE_HEADER_SIZE);
        std::memcpy(bytes.data(), id, std::strlen(id));
        std::memcpy(bytes.data() + IMAGE_VERSION_OFFSET, version, std::strlen(version));
        return bytes;
    }
    void SetUp() override {
        run_images_clear();
        upgrade_state.target_image = FirmwareImage{adapter_.data(), 4096, {}};
        std::memcpy(upgrade_state.target_image.header, adapter_.data(), IMAGE_HEADER_SIZE);
        upgrade_state.is_phone_model = 0;
        upgrade_state.stage = STAGE_TRANSITION;
        run_images_use_carried(upgrade_state.target_image);
    }
    void TearDown() override {
        run_images_clear();
        upgrade_state.stage = STAGE_TARGET;
        upgrade_sequence_set_action(StatusAction::UPGRADE);
        std::remove(handset_path_);
    }
    std::vector<std::uint8_t> adapter_ = image_bytes("tev4400", "3.2.9(b)");
    char handset_path_[32] = "/tmp/handset-XXXXXX";
};

// What the transfer, the check after the flash and the handset's rules read follows the image of
// the device's model; the program's own keeps its transition image, one from a file has none.
TEST_F(ModelCheck, EverythingAfterTheChoiceFollowsTheDevicesImage) {
    int descriptor = mkstemp(handset_path_);
    std::vector<std::uint8_t> handset = image_bytes("velora610", "1.5.0");
    ASSERT_EQ(write(descriptor, handset.data(), handset.size()), 4096);
    close(descriptor);
    std::string problem;
    ASSERT_TRUE(run_images_add_file(handset_path_, &problem)) << problem;

    EXPECT_EQ(use_image_for_device("TEV-4400", false), run_images_carried());
    EXPECT_EQ(upgrade_state.stage.load(), STAGE_TRANSITION);
    EXPECT_EQ(use_image_for_device("TEV-4500", false), nullptr);
    EXPECT_EQ(run_image_chosen(), nullptr);
    EXPECT_EQ(upgrade_state.target_image.data, adapter_.data());  // nothing changed
    EXPECT_EQ(use_image_for_device("TEV-4500", true), run_images_carried());

    const RunImage* chosen = use_image_for_device("TEV-610 Handset", false);
    EXPECT_EQ(run_image_chosen(), chosen);
    ASSERT_NE(upgrade_state.target_image.data, nullptr);  // read now that a device gets it
    EXPECT_EQ(0, std::memcmp(upgrade_state.target_image.data, handset.data(), 4096));
    EXPECT_EQ(upgrade_state.target_image.size, 4096u);
    EXPECT_TRUE(device_is_current("1.5.0"));
    EXPECT_STREQ(upgrade_state.product_label, "TEV-610");
    EXPECT_EQ(upgrade_state.is_phone_model, 1);
    EXPECT_EQ(upgrade_state.stage.load(), STAGE_TARGET);
}

void check_the_model_of(const char* product, StatusAction action) {
    console_output_use(stderr);
    ScriptedAnswerSet answers;
    answers.yes = true;
    scripted_answers_use(answers);
    static EventStream stream(stderr, nullptr, nullptr, 0);
    run_events_use(&stream);
    upgrade_sequence_set_action(action);
    std::strcpy(upgrade_state.device_info.product_name, product);
    check_device_model();
    std::exit(7);  // the run goes on
}

// Nothing is sent to a device of another model: the run ends 1, an upgrade after its box; a check
// tells it. A quiet upgrade's line for it is a failure's (on standard output here).
TEST_F(ModelCheck, ADeviceOfAnotherModelEndsTheRunBeforeAnyCommand) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(check_the_model_of("TEV-610", StatusAction::UPGRADE), ::testing::ExitedWithCode(1),
                "Upgrade Failed: the device is of another model: TEV-610; the image is for "
                "TEV-4400\n.*\"result\":\"other-model\",\"text\":\"TEV-610; the image is for "
                "TEV-4400\"");
    EXPECT_EXIT(check_the_model_of("TEV-610", StatusAction::CHECK), ::testing::ExitedWithCode(1),
                "\"needs_upgrade\":false,\"other_model\":true,\"image_product\":\"\".*"
                "\"result\":\"other-model\"");
    EXPECT_EXIT(check_the_model_of("tev-4400 adapter", StatusAction::UPGRADE),
                ::testing::ExitedWithCode(7),
                "\"event\":\"status\".*\"image_product\":\"TEV-4400\",\"image_version\":\"3.2.9\\(b\\)\"");
    testing::internal::CaptureStdout();
    std::strcpy(upgrade_state.device_ip_text, "10.1.0.123");
    EventStream quiet(nullptr, stderr, stdout, 0);
    quiet.result(RunResult::OTHER_MODEL, "TEV-610; the image is for TEV-4400", "1.4.2", "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "10.1.0.123: other-model: TEV-610; the image is for TEV-4400\n");
}

}  // namespace
