// The console front end. A dialog is printed when it opens: its title, then its texts and values
// from top to bottom, then the questions for what can be typed or chosen, then its buttons. Enter
// alone takes what the dialog holds already (the default button, the pre-filled text, the
// selected entry); the end of input presses Cancel. Modeless dialogs print their progress, and
// "cancel" or Ctrl-C presses their Cancel. Here the dialog interface's windows are opened, shown,
// pumped and closed; the dialog model keeps their state.
#include "console/console_dialogs.h"

#include <atomic>

#include "console/answer_echo.h"
#include "console/console_input.h"
#include "console/console_output.h"
#include "console/dialog_model.h"
#include "console/dialog_printing.h"
#include "console/dialog_progress.h"
#include "console/dialog_questions.h"
#include "res/dialog_ids.h"

namespace {
std::atomic<int> refused_template{0};  // a test's dialog that cannot be created
}  // namespace

void console_dialogs_refuse_creation(int template_id) { refused_template.store(template_id); }

int dialog_run_modal(ModuleHandle, int template_id, DialogProc procedure) {
    console_input_prepare();
    if (template_id == refused_template.load()) return -1;
    ModelDialog* dialog = model_dialog_create(template_id, procedure);
    if (dialog == nullptr) return -1;
    int end_code = dialog->end_code;
    if (!dialog->ended) {
        dialog->visible = true;
        print_dialog(*dialog);
        take_answers(dialog, template_id);
        end_code = run_questions(dialog);
    }
    ModelDialog* live = model_dialog_find(dialog);
    if (live != nullptr) model_dialog_remove(live);
    return end_code;
}

WindowHandle dialog_open_modeless(ModuleHandle, int template_id, DialogProc procedure) {
    return model_dialog_create(template_id, procedure);
}

void dialog_show(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog == nullptr || dialog->visible) return;
    console_input_prepare();
    model_observe_progress_phases(progress_phase_ends);
    dialog->visible = true;
    print_dialog(*dialog);
}

void dialog_destroy(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog == nullptr) return;
    if (dialog->visible) {
        HeldOutput held;
        if (held.stream() != nullptr) {
            held.end_bar_line();
            std::fflush(held.stream());
        }
    }
    model_dialog_remove(dialog);
}

bool dialog_pump_one(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog == nullptr || !dialog->visible) return false;
    look_at_modeless(*dialog);
    if (!console_take_cancel_request()) return false;
    echo_typed_cancel();
    model_send_command(handle, CONTROL_CANCEL);
    return true;
}

void dialog_pump_all(WindowHandle handle) {
    while (dialog_pump_one(handle)) {
    }
}

int message_box_task_modal(const char* text, const char* title) {
    return ask_message_box(text, title);
}

int message_box_owned(WindowHandle, const char* text, const char* title) {
    return ask_message_box(text, title);
}
