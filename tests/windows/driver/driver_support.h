// What the Win32 test drivers share: the pass/fail log, reading and poking windows of another
// process as a user's tools would, finding its dialogs, screenshots, and starting a program.
#pragma once
#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

inline constexpr DWORD WAIT_MS = 20000;
inline constexpr DWORD STEP_MS = 50;
inline const char* const DIALOG_CLASS = "#32770";
inline const char* const ERROR_BOX_TITLE = "TEV Firwmare Upgrade Error";

// Prints "ok" or "FAIL" with what was checked; counts the failures.
void check(bool ok, const std::string& what);
int failure_count();

std::string hex(unsigned long value);
// Shows CR and LF, so a mismatch in a long text can be read in the log.
std::string visible(const std::string& text);

std::string window_text(HWND window);
std::string class_of(HWND window);
bool same_class(const std::string& seen, const char* wanted);
LRESULT ask(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
std::vector<HWND> children_of(HWND dialog);

// A visible dialog window of the process with that owner (and title, when given); waits up to
// `wait_ms`, and lets it paint before it answers. nullptr when none came.
HWND find_dialog(DWORD process_id, HWND owner, const char* title);
HWND wait_for_dialog(DWORD process_id, HWND owner, const char* title, DWORD wait_ms = WAIT_MS);
// An owner-less dialog of the process whose title begins with one of the prefixes.
HWND wait_for_dialog_titled(DWORD process_id, const std::vector<std::string>& prefixes,
                            DWORD wait_ms = WAIT_MS);
// Prints the visible dialogs of the process with their texts: what was on the screen instead.
void describe_dialogs(DWORD process_id);
// Waits until the window is gone.
bool wait_until_gone(HWND window, DWORD wait_ms = WAIT_MS);

// Saves the window as it is on the screen to FOLDER\NAME.bmp.
void save_screenshot(HWND window, const std::string& folder, const std::string& name);

void check_text(HWND dialog, int id, const std::string& wanted, const std::string& name);
// The dialog sits where centring on the primary screen puts it.
void check_centred(HWND dialog, const std::string& name);
// Polls until `holds` answers true or `wait_ms` has passed: keys typed a moment ago are handled
// in the other program's own time, which under Wine on a loaded machine may be seconds.
template <typename Condition>
bool eventually(Condition holds, DWORD wait_ms = 15000) {
    for (DWORD waited = 0; !holds(); waited += STEP_MS) {
        if (waited >= wait_ms) return false;
        Sleep(STEP_MS);
    }
    return true;
}

HWND focus_of(HWND dialog);
// The focus is on the control, or inside it (the address control's number fields), or comes
// there within a moment.
void check_focus(HWND dialog, int id, const std::string& name);

void click(HWND dialog, int id);
// Brings the window to the front and types keys into whatever has the focus there.
void press_key(HWND window, WORD key, bool shift = false);
void type_text(HWND window, const std::string& text);
// Clicks OK in a message box and checks it said what it should.
void answer_box(HWND box, const std::string& text, const std::string& name);

// A started program; `start_program` reports whether it started.
struct Program {
    PROCESS_INFORMATION process{};
};
bool start_program(const std::string& command_line, Program* program, const std::string& name);
// Waits for the end and gives the exit status; false (and the program killed) after `wait_ms`.
bool wait_for_exit(Program* program, DWORD* status, DWORD wait_ms = WAIT_MS);

// The text of a list view's item in another process (the row's column).
std::string list_view_text(HWND list, int row, int column);
// How many processes of that program's file name run now.
int count_processes(const char* exe_name);
