// The console front end of the Linux build: shows the in-memory dialogs and message boxes in the
// terminal and turns typed lines into the clicks a window would get.
#pragma once
#include <cstdio>

// Prints to standard output unless a test gives another stream; nullptr runs headless: the
// dialogs work (and take "cancel" and Ctrl-C) but nothing is printed.
void console_output_use(std::FILE* out);

struct ModelDialog;
struct ModelControl;
// Shows the last state of a progress phase that no look at the dialog caught, before its bar takes
// a new range (the console hands it to the dialog model as it shows a dialog).
void console_progress_phase_ends(ModelDialog& dialog, const ModelControl& bar);

// For tests: modal dialogs of that template id fail to open, as when the system cannot create
// the window (the opener gets -1); 0 lets every dialog open again.
void console_dialogs_refuse_creation(int template_id);

// A window's address control takes only four numbers; the console's address question checks what
// is typed at once instead: check gives the reason a text is refused, or nullptr, and the question
// is asked again after the reason. nullptr: no check (the dialog's own check still runs).
using ConsoleAddressCheck = const char* (*)(const char* text);
void console_address_check_use(ConsoleAddressCheck check);
