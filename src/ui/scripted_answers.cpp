// The answer source behind the command line's options.
#include "ui/scripted_answers.h"

#include <cstring>
#include <string>

#include "res/dialog_ids.h"
#include "ui/dialog_procs.h"
#include "ui/error_box.h"

namespace {

class ScriptedAnswers final : public DialogAnswers {
public:
    explicit ScriptedAnswers(const ScriptedAnswerSet& answers) : answers_(answers) {}

    bool unattended() const override { return answers_.yes; }

    int answer_dialog(WindowHandle dialog, int template_id, int presses) override {
        // A dialog still open after the answers pressed its button refused them; a person may
        // correct them, a run without one cannot.
        if (presses > 0) {
            if (answers_.yes) fail_upgrade("Upgrade Failed: the answers given were not accepted");
            return 0;
        }
        switch (template_id) {
            case DIALOG_WARNING: return answers_.check ? CONTROL_OK : press_ok();
            case DIALOG_CONFIRM:
            case DIALOG_CONFIRM_TRANSITION:
            case DIALOG_SUCCESS: return press_ok();
            case DIALOG_ADDRESS_ADAPTER:
            case DIALOG_ADDRESS_PHONE: return answer_address(dialog);
            case DIALOG_PASSWORD: return answer_password(dialog);
            default:
                if (answers_.yes) fail_upgrade("Upgrade Failed: a question with no answer given");
                return 0;
        }
    }

private:
    int press_ok() const { return answers_.yes ? CONTROL_OK : 0; }

    int answer_address(WindowHandle dialog) {
        if (answers_.device != nullptr) {
            dialog_set_item_text(dialog, CONTROL_DEVICE_ADDRESS, answers_.device);
        }
        if (answers_.local != nullptr) select_local(dialog);
        return answers_.check ? CONTROL_OK : press_ok();
    }

    void select_local(WindowHandle dialog) {
        char entry[32];
        int kept = dialog_list_selection(dialog, CONTROL_LOCAL_ADDRESS_LIST);
        for (int index = 0;; ++index) {
            dialog_list_select(dialog, CONTROL_LOCAL_ADDRESS_LIST, index);
            if (dialog_list_selection(dialog, CONTROL_LOCAL_ADDRESS_LIST) != index) break;
            dialog_get_item_text(dialog, CONTROL_LOCAL_ADDRESS_LIST, entry, sizeof entry);
            if (std::strcmp(entry, answers_.local) == 0) return;
        }
        dialog_list_select(dialog, CONTROL_LOCAL_ADDRESS_LIST, kept);
        std::string text = std::string("Upgrade Failed: ") + answers_.local +
                           " is not one of this computer's addresses";
        fail_upgrade(text.c_str());
    }

    // The password goes in once: when the device asks again it refused it (a new nonce alone is
    // answered without asking), and a run without a person ends there.
    int answer_password(WindowHandle dialog) {
        ++password_dialogs_;
        if (password_dialogs_ > 1) {
            if (answers_.yes) fail_upgrade("Upgrade Failed: the device refused the password");
            return 0;
        }
        if (answers_.user != nullptr) {
            // The dialog would refuse it with a box and stay; nobody is there to type another.
            if (answers_.yes && !user_name_sendable(answers_.user)) {
                fail_upgrade((std::string("Upgrade Failed: ") + USER_NAME_REFUSED_TEXT).c_str());
            }
            dialog_set_item_text(dialog, CONTROL_USER_NAME, answers_.user);
        }
        if (answers_.has_password) {
            dialog_set_item_text(dialog, CONTROL_PASSWORD, answers_.password.c_str());
        } else if (answers_.yes) {
            std::string text =
                std::string("Upgrade Failed: the device wants a password; give it with ") +
                answers_.password_option + " FILE or TEV_PASSWORD";
            fail_upgrade(text.c_str());
        }
        return answers_.check && answers_.has_password ? CONTROL_OK : press_ok();
    }

    ScriptedAnswerSet answers_;
    int password_dialogs_ = 0;
};

ScriptedAnswers* installed = nullptr;
bool unwatched = false;

}  // namespace

void scripted_answers_use(const ScriptedAnswerSet& answers) {
    delete installed;
    installed = new ScriptedAnswers(answers);
    unwatched = answers.yes || answers.check;
    dialogs_use_answers(installed);
}

bool scripted_answers_unwatched() { return unwatched; }
