// The in-memory dialogs without the console front end, for the fuzz targets: dialog procedures
// run as usual, nothing is printed, and nobody presses a button. The code under test never
// opens a modal dialog or a message box; one that does stops the target.
#include <cstdio>
#include <cstdlib>

#include "console/dialog_model.h"

namespace {
[[noreturn]] void unexpected(const char* what, const char* text) {
    std::fprintf(stderr, "fuzz target opened %s: %s\n", what, text);
    std::abort();
}
}  // namespace

int dialog_run_modal(ModuleHandle, int, DialogProc) { unexpected("a modal dialog", ""); }

WindowHandle dialog_open_modeless(ModuleHandle, int template_id, DialogProc procedure) {
    return model_dialog_create(template_id, procedure);
}

void dialog_show(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog != nullptr) dialog->visible = true;
}

void dialog_destroy(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog != nullptr) model_dialog_remove(dialog);
}

bool dialog_pump_one(WindowHandle) { return false; }
void dialog_pump_all(WindowHandle) {}

int message_box_task_modal(const char* text, const char*) { unexpected("a message box", text); }
int message_box_owned(WindowHandle, const char* text, const char*) { unexpected("a message box", text); }

// Nobody answers, neither a person nor the options.
void dialogs_use_answers(DialogAnswers*) {}
