// The console front end of the Linux build: shows the in-memory dialogs and message boxes in the
// terminal and turns typed lines into the clicks a window would get. Where it prints is set in
// console_output.h, the check of a typed address in dialog_questions.h.
#pragma once

// For tests: modal dialogs of that template id fail to open, as when the system cannot create
// the window (the opener gets -1); 0 lets every dialog open again.
void console_dialogs_refuse_creation(int template_id);
