// Windows and dialogs as the upgrader's user interface code sees them. On Windows these are real
// windows built from the template table; on Linux an in-memory dialog model that the console front
// end shows and drives.
#pragma once
#include <cstdint>

using ModuleHandle = void*;
using WindowHandle = void*;

struct ScreenRect {
    int left;
    int top;
    int right;
    int bottom;
};

// The two messages dialog procedures handle, with the values Windows gives them.
constexpr unsigned DIALOG_MESSAGE_INIT = 0x0110;     // WM_INITDIALOG
constexpr unsigned DIALOG_MESSAGE_COMMAND = 0x0111;  // WM_COMMAND; low 16 bits of wparam: the id

// A dialog procedure: true when it handled the message (for the init message: false when it set
// the focus itself).
using DialogProc = std::intptr_t (*)(WindowHandle dialog, unsigned message, std::uintptr_t wparam,
                                     std::intptr_t lparam);
// The window procedure of the program's registered class.
using ClassWindowProc = std::intptr_t (*)(WindowHandle window, unsigned message,
                                          std::uintptr_t wparam, std::intptr_t lparam);

// Registers a window class of that name for the module; false when registration fails.
bool window_class_register(const char* name, ModuleHandle instance, ClassWindowProc procedure);
// Initialises the progress bar and IPv4 address common controls.
void dialogs_init_common_controls();

// Runs the dialog of that template id modally, owned by no window; returns its end code, or -1
// when the dialog could not be created.
int dialog_run_modal(ModuleHandle instance, int template_id, DialogProc procedure);
// Creates the dialog of that template id modelessly, owned by no window (not yet shown).
WindowHandle dialog_open_modeless(ModuleHandle instance, int template_id, DialogProc procedure);
void dialog_show(WindowHandle dialog);  // shown in its normal state
void dialog_destroy(WindowHandle dialog);
void dialog_end(WindowHandle dialog, int end_code);

void dialog_set_title(WindowHandle dialog, const char* text);
void dialog_set_item_text(WindowHandle dialog, int control, const char* text);
// Copies at most size - 1 characters and a NUL; a longer text is cut.
void dialog_get_item_text(WindowHandle dialog, int control, char* text, int size);
void dialog_focus_item(WindowHandle dialog, int control);
void dialog_list_add(WindowHandle dialog, int control, const char* text);
void dialog_list_select(WindowHandle dialog, int control, int index);
// Index of the selected entry, or -1 when none is selected.
int dialog_list_selection(WindowHandle dialog, int control);
void dialog_progress_range(WindowHandle dialog, int control, int minimum, int maximum);
void dialog_progress_position(WindowHandle dialog, int control, int position);

// Handles one pending message of the dialog (or its controls), if any; true when one was handled.
// Right after a socket wait that input for the thread ended, it handles every one pending.
bool dialog_pump_one(WindowHandle dialog);
// Handles every pending message of the dialog (or its controls).
void dialog_pump_all(WindowHandle dialog);

constexpr int MESSAGE_BOX_OK = 1;
// Owner-less, task-modal message box with OK only and no icon; blocks until dismissed.
int message_box_task_modal(const char* text, const char* title);
// Application-modal message box owned by a dialog, OK only, no icon.
int message_box_owned(WindowHandle owner, const char* text, const char* title);

// Answers a run takes from somewhere other than a person (its command line): the dialog
// procedures run as for a person, and the answers fill their controls and press their buttons.
class DialogAnswers {
public:
    // A modal dialog is open and initialised; presses is how many of its buttons the answers
    // pressed already. Fill controls through this interface and return the id of the button to
    // press, or 0 to leave the dialog to the person. May end the run instead.
    virtual int answer_dialog(WindowHandle dialog, int template_id, int presses) = 0;
    // True when the run asks nobody: message boxes are dismissed as they are shown.
    virtual bool unattended() const = 0;

protected:
    ~DialogAnswers() = default;
};
// The answers for the rest of the run (nullptr: a person answers everything). The console front
// end gives them their turn before it asks; the Windows dialogs once they are up, and unattended
// a message box there presses its own OK.
void dialogs_use_answers(DialogAnswers* answers);

// Outer rectangle of a window on the screen; false when it cannot be read.
bool window_screen_rect(WindowHandle window, ScreenRect* rect);
// Full size of the primary screen.
void screen_size(int* width, int* height);
// Moves a window to (x, y) keeping its size, and brings it to the top of the Z order.
void window_move_to_top(WindowHandle window, int x, int y);
