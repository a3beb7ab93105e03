// Printing the dialogs: a dialog as it opens, the texts set in it since, and message boxes.
#pragma once
#include "console/console_output.h"
#include "console/dialog_model.h"

// Title and texts, as the dialog opens; remembers what it showed.
void print_dialog(ModelDialog& dialog);
// Each shown text that changed since the dialog was last printed, as it would open; remembers
// them. With the output held, not headless.
void print_changed_texts(HeldOutput& held, ModelDialog& dialog);
// A message box's title and text.
void print_message_box(const char* text, const char* title);
