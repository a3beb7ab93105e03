// The questions of a modal dialog and of a message box, and the answers' turn before them.
#pragma once
#include "platform/dialogs.h"

// A window's address control takes only four numbers; the console's address question checks what
// is typed at once instead: check gives the reason a text is refused, or nullptr, and the question
// is asked again after the reason. nullptr: no check (the dialog's own check still runs).
using ConsoleAddressCheck = const char* (*)(const char* text);
void console_address_check_use(ConsoleAddressCheck check);

// The answers' turn at a modal dialog that has just been shown: they fill its controls and press
// its buttons until they leave it to the person (or it ends).
void take_answers(WindowHandle dialog, int template_id);
// Asks what can be typed or chosen in the dialog, in reading order, then which button to press,
// and presses it; again until the dialog ends. Its end code.
int run_questions(WindowHandle dialog);
// Prints the box and waits for one line; an unattended run's answers dismiss it at once.
int ask_message_box(const char* text, const char* title);
