// A run driven by options: the answers fill the dialogs and press their buttons through the console
// front end, a question they cannot answer ends the run with status 1, and the password comes from
// its file or the environment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
