// A run driven by options: the answers fill the dialogs and press their buttons through the console
// front end, a question they cannot answer ends the run with status 1, the outcome becomes the
// exit status, and the events are JSON lines whatever the device sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/device_request.h"
#include "app/post_transfer.h"
#include "app/upgrade_sequence.h"
#include "console/console_output.h"
#include "console_capture.h"
#include "core/run_images.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "main/event_stream.h"
#include "main/run_options.h"
#include "res/dialog_ids.h"
#include "ui/dialog_procs.h"
#include "ui/scripted_answers.h"

namespace {

class ScriptedRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(upgrade_state.local_addresses, 0, sizeof upgrade_state.local_addresses);
        upgrade_state.local_addresses[0] = 0xC0A8000A;  // 192.168.0.10
        upgrade_state.local_addresses[1] = 0x0A000005;  // 10.0.0.5
        upgrade_state.local_ip = 0xC0A8000A;
        upgrade_state.device_ip = 0;
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
    }
    void TearDown() override { dialogs_use_answers(nullptr); }

    static ScriptedAnswerSet unattended() {
        ScriptedAnswerSet answers;
        answers.device = "10.1.0.123";
        answers.yes = true;
        return answers;
    }
};

TEST_F(ScriptedRun, YesAnswersEveryDialogWithoutReadingAnything) {
    ScriptedAnswerSet answers = unattended();
    answers.local = "10.0.0.5";
    answers.user = "tech";
    answers.password = "pw";
    answers.has_password = true;
    scripted_answers_use(answers);
    ConsoleCapture console("cancel\nc\n", true);  // typed lines nobody may take
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_WARNING, warning_dialog_proc), 1);
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 1);
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_PASSWORD, password_dialog_proc), 1);
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_CONFIRM, confirm_dialog_proc), 1);
    EXPECT_EQ(message_box_task_modal("Upgrade Failed: example", "Error"), MESSAGE_BOX_OK);
    EXPECT_EQ(upgrade_state.device_ip, 0x0A01007Bu);
    EXPECT_EQ(upgrade_state.local_ip, 0x0A000005u);
    EXPECT_STREQ(upgrade_state.auth.user_name, "tech");
    EXPECT_STREQ(upgrade_state.auth.password, "pw");
    std::string printed = console.printed();
    for (const char* line : {"Continue/Cancel [Cancel]: Continue\n", "TEV IP Address: 10.1.0.123\n",
                             "Your IP Address: 10.0.0.5\n", "User: tech\nPassword: \n",
                             "Upgrade/Cancel [Upgrade]: Upgrade\n", "OK [OK]: OK\n"}) {
        EXPECT_NE(printed.find(line), std::string::npos) << line << "\nin:\n" << printed;
    }
    EXPECT_EQ(printed.find("pw\n"), std::string::npos);
}

TEST_F(ScriptedRun, WithoutYesTheOptionsOnlyFillAndThePersonAnswers) {
    ScriptedAnswerSet answers;
    answers.device = "10.1.0.123";
    scripted_answers_use(answers);
    ConsoleCapture console("continue\n\n\nc\n");
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_WARNING, warning_dialog_proc), 1);
    EXPECT_EQ(dialog_run_modal(nullptr, DIALOG_ADDRESS_ADAPTER, address_dialog_proc), 0);
    EXPECT_NE(console.printed().find("TEV IP Address [10.1.0.123]: \n"), std::string::npos);
}

// A check given the device asks nothing an upgrade asks: neither the warning nor the address
// dialog; a local address this computer does not have ends it before anything is sent.
TEST_F(ScriptedRun, ACheckAsksNoUpgradeQuestion) {
    upgrade_sequence_set_action(StatusAction::CHECK);
    upgrade_sequence_set_addresses("10.1.0.123", "10.9.9.9");
    ConsoleCapture console("\n\n\n");
    EXPECT_EQ(run_upgrade_sequence(), 0);
    upgrade_sequence_set_action(StatusAction::UPGRADE);
    upgrade_sequence_set_addresses(nullptr, nullptr);
    std::string printed = console.printed();
    EXPECT_EQ(printed.find("Forcing a firmware upgrade"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("TEV IP Address"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Upgrade Failed: 10.9.9.9 is not one of this computer's addresses"),
              std::string::npos)
        << printed;
    EXPECT_EQ(upgrade_state.device_ip, 0x0A01007Bu);
}

// The runs the options cannot finish end at once, with the box and status 1. The boxes go to
// standard error, where a death test reads them.
void run_dialogs(int id, DialogProc procedure, int times = 1) {
    console_output_use(stderr);
    for (int i = 0; i < times; ++i) dialog_run_modal(nullptr, id, procedure);
}

TEST_F(ScriptedRun, AQuestionTheOptionsCannotAnswerEndsTheRunWithStatusOne) {
    ScriptedAnswerSet answers = unattended();
    scripted_answers_use(answers);
    EXPECT_EXIT(run_dialogs(DIALOG_PASSWORD, password_dialog_proc), ::testing::ExitedWithCode(1),
                "Upgrade Failed: the device wants a password; give it with --password-file FILE "
                "or TEV_PASSWORD\n");
    answers.has_password = true;
    answers.password = "refused";
    scripted_answers_use(answers);
    EXPECT_EXIT(run_dialogs(DIALOG_PASSWORD, password_dialog_proc, 2),
                ::testing::ExitedWithCode(1), "Upgrade Failed: the device refused the password\n");
    answers.local = "10.9.9.9";
    scripted_answers_use(answers);
    EXPECT_EXIT(run_dialogs(DIALOG_ADDRESS_ADAPTER, address_dialog_proc),
                ::testing::ExitedWithCode(1),
                "Upgrade Failed: 10.9.9.9 is not one of this computer's addresses\n");
    // A user name the header cannot carry ends the run with the dialog's reason, not with the
    // answers merely "not accepted".
    answers.local = nullptr;
    answers.user = "ad\"min";
    answers.password = "pw";
    scripted_answers_use(answers);
    EXPECT_EXIT(run_dialogs(DIALOG_PASSWORD, password_dialog_proc), ::testing::ExitedWithCode(1),
                "Upgrade Failed: Invalid User Name: it cannot contain \", \\\\ or control "
                "characters\n");
}

// A status page is waited for as long as it takes only while a person can press Cancel.
TEST_F(ScriptedRun, WithYesOrACheckAStatusRequestWaitsAtMost30Seconds) {
    for (bool yes : {false, true}) {
        for (bool check : {false, true}) {
            ScriptedAnswerSet answers;
            answers.yes = yes;
            answers.check = check;
            scripted_answers_use(answers);
            EXPECT_EQ(status_answer_limit_ms(), yes || check ? 30'000u : 0u) << yes << check;
        }
    }
}

TEST(RunOutcome, OnlyTheSuccessDialogGivesStatusZero) {
    run_outcome_failed("Upgrade Failed: User Abort");
    EXPECT_EQ(run_exit_status(), EXIT_FAILED);
    run_outcome_verified("TEV@10.1.0.123 Upgrade Successful!");
    EXPECT_EQ(run_exit_status(), EXIT_VERIFIED);
    run_outcome_failed("Upgrade Failed: Version not matching");  // a later box wins
    EXPECT_EQ(run_exit_status(), EXIT_FAILED);
    run_exit_status_tells(false);
    EXPECT_EQ(run_exit_status(), 0);
    run_exit_status_tells(true);
    EXPECT_EXIT(run_end(), ::testing::ExitedWithCode(EXIT_FAILED), "");
}

TEST(RunEventsTest, FlashWaitCountsWholeSecondsDownOncePerSecond) {
    EXPECT_EQ(flash_seconds_left(0), 30);
    EXPECT_EQ(flash_seconds_left(FLASH_WAIT_TICKS), 0);
    int changes = 0;
    for (std::uint32_t tick = 1; tick <= FLASH_WAIT_TICKS; ++tick) {
        if (flash_seconds_left(tick) != flash_seconds_left(tick - 1)) ++changes;
    }
    EXPECT_EQ(changes, 30);
}

std::vector<nlohmann::json> lines_of(std::FILE* file) {
    std::rewind(file);
    std::vector<nlohmann::json> lines;
    char line[4096];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        lines.push_back(nlohmann::json::parse(line));  // throws on anything but one object a line
    }
    return lines;
}

TEST(RunEventsTest, EveryEventIsOneJsonLineAndTheDevicesStringsAreEscaped) {
    std::FILE* events = std::tmpfile();
    std::FILE* result_line = std::tmpfile();
    std::strcpy(upgrade_state.device_ip_text, "10.1.0.123");
    run_images_clear();  // no image chosen
    EventStream stream(events, nullptr, result_line, event_clock_ms());
    DeviceInfo device{};
    std::strcpy(device.product_name, "TEV\"4400\"\n{\"event\":\"result\"}");
    std::strcpy(device.software_version, "3.1\x01\xff\xfe");
    stream.started("1.0.0", "TEV-4400", "3.2.9(b)");
    stream.status_read(device);
    stream.request_from(0x7F000002, 1234);
    stream.flash_wait(30);
    stream.result(RunResult::FAILED, "Upgrade Failed: User Abort", "3.1.8(a)", "");
    stream.verify(2);
    stream.result(RunResult::VERIFIED, "TEV@10.1.0.123 Upgrade Successful!", "3.1.8(a)", "3.2.9(b)");
    stream.result(RunResult::FAILED, "Upgrade Failed: Version not matching", "3.1.8(a)", "3.2.9(c)");
    std::vector<nlohmann::json> lines = lines_of(events);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[1]["event"], "status");
    EXPECT_EQ(lines[1]["product_name"], "TEV\"4400\"\n{\"event\":\"result\"}");
    EXPECT_EQ(lines[1]["software_version"], "3.1\x01\xEF\xBF\xBD\xEF\xBF\xBD");  // U+FFFD twice
    EXPECT_EQ(lines[2]["address"], "127.0.0.2");
    EXPECT_EQ(lines[3]["event"], "flash-wait");
    EXPECT_EQ(lines[4]["result"], "failed");
    EXPECT_EQ(lines[4]["text"], "Upgrade Failed: User Abort");
    EXPECT_EQ(lines[4]["version_before"], "3.1.8(a)");
    EXPECT_EQ(lines[4]["version_after"], "");
    EXPECT_EQ(lines[4]["device"], "10.1.0.123");
    EXPECT_EQ(lines[5], (nlohmann::json{{"event", "verify"}, {"ms", lines[5]["ms"]}, {"attempt", 2}}));
    nlohmann::json verified = lines[6];
    verified.erase("ms");
    EXPECT_EQ(verified, (nlohmann::json{{"event", "result"},
                                        {"result", "verified"},
                                        {"text", "TEV@10.1.0.123 Upgrade Successful!"},
                                        {"device", "10.1.0.123"},
                                        {"version_before", "3.1.8(a)"},
                                        {"version_after", "3.2.9(b)"},
                                        {"image_product", ""},
                                        {"image_version", ""}}));
    EXPECT_EQ(lines[7]["result"], "failed");  // whatever version the device reported
    EXPECT_EQ(lines[7]["version_after"], "3.2.9(c)");
    for (const nlohmann::json& line : lines) EXPECT_TRUE(line["ms"].is_number());
    std::rewind(result_line);
    char text[128] = "";
    ASSERT_NE(std::fgets(text, sizeof text, result_line), nullptr);
    EXPECT_STREQ(text, "10.1.0.123: failed: Upgrade Failed: User Abort\n");
    std::fclose(events);
    std::fclose(result_line);
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

// The password file as a Windows editor writes it (CR LF) gives the password alone; a file that
// cannot be read is a problem that names it; without the file TEV_PASSWORD answers.
TEST(RunOptions, ThePasswordComesFromItsFileOrTheEnvironment) {
    char path[] = "/tmp/tev-password-XXXXXX";
    int descriptor = mkstemp(path);
    ASSERT_GE(descriptor, 0);
    std::FILE* file = fdopen(descriptor, "w");
    std::fputs("Firm-Ware7\r\nsecond line\n", file);
    std::fclose(file);
    CommandLine line{};
    line.password_file = path;
    ScriptedAnswerSet answers;
    std::string problem;
    ASSERT_TRUE(answers_from_options(line, &answers, &problem)) << problem;
    EXPECT_TRUE(answers.has_password);
    EXPECT_EQ(answers.password, "Firm-Ware7");
    std::remove(path);
    ScriptedAnswerSet missing;
    EXPECT_FALSE(answers_from_options(line, &missing, &problem));
    EXPECT_EQ(problem, std::string("can't read the password file ") + path + ": No such file or directory");
    line.password_file = nullptr;
    setenv("TEV_PASSWORD", "from-env", 1);
    ScriptedAnswerSet from_environment;
    EXPECT_TRUE(answers_from_options(line, &from_environment, &problem));
    unsetenv("TEV_PASSWORD");
    EXPECT_TRUE(from_environment.has_password);
    EXPECT_EQ(from_environment.password, "from-env");
}

}  // namespace
