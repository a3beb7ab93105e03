// Windows, dialogs, message boxes and the common controls on Windows. Every dialog is built at
// run time from the template table, so the table is the one source of both builds' dialogs.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include "platform/dialogs.h"
#include "platform/win32/input_wake.h"
#include "res/dialog_template_bytes.h"

namespace {

ClassWindowProc class_procedure = nullptr;

// A look at the message queue is a call into the window system (under Wine a trip to its server),
// which a transfer polling every block would pay once a block. A pump looks when a wait has seen
// input arrive, and otherwise at most every PEEK_INTERVAL_MS: Cancel still answers at once to a
// person.
constexpr DWORD PEEK_INTERVAL_MS = 5;
thread_local bool input_woke = false;
thread_local bool looked = false;
thread_local DWORD looked_at = 0;

bool peek_and_dispatch(HWND dialog) {
    looked = true;
    looked_at = GetTickCount();
    MSG message;
    if (!PeekMessageA(&message, dialog, 0, 0, PM_REMOVE)) return false;
    looked = false;  // more may wait: the next pump looks again at once
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

LRESULT CALLBACK class_thunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return class_procedure(window, message, wparam, lparam);
}

HWND hwnd(WindowHandle window) { return static_cast<HWND>(window); }

// Windows calls one procedure of its own convention; it finds the upgrader's procedure, handed
// over as the creation parameter, in the dialog's user slot. The procedures themselves are
// created without a parameter, so they see 0 there. Messages before the init message (the font)
// are left to the dialog manager.
INT_PTR CALLBACK dialog_thunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        return reinterpret_cast<DialogProc>(lparam)(dialog, message, wparam, 0);
    }
    auto procedure = reinterpret_cast<DialogProc>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (procedure == nullptr) return FALSE;
    return procedure(dialog, message, wparam, lparam);
}

// The template in memory, DWORD-aligned as Windows wants it; false when no dialog has that id.
struct TemplateBuffer {
    alignas(4) std::uint8_t bytes[DIALOG_TEMPLATE_BYTES_MAX];
};

bool build_template(int template_id, TemplateBuffer* buffer) {
    const DialogTemplate* dialog = find_dialog_template(template_id);
    if (dialog == nullptr) return false;
    return build_dialog_template_bytes(*dialog, buffer->bytes, sizeof buffer->bytes) != 0;
}

const DLGTEMPLATE* as_template(const TemplateBuffer& buffer) {
    return reinterpret_cast<const DLGTEMPLATE*>(buffer.bytes);
}

}  // namespace

bool window_class_register(const char* name, ModuleHandle instance, ClassWindowProc procedure) {
    class_procedure = procedure;
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = class_thunk;
    window_class.hInstance = static_cast<HINSTANCE>(instance);
    window_class.lpszClassName = name;
    return RegisterClassA(&window_class) != 0;
}

// The Windows dialogs are answered by a person only, for now.
void dialogs_use_answers(DialogAnswers*) {}

void dialogs_init_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);
}

int dialog_run_modal(ModuleHandle instance, int template_id, DialogProc procedure) {
    TemplateBuffer buffer;
    if (!build_template(template_id, &buffer)) return -1;
    return static_cast<int>(DialogBoxIndirectParamA(static_cast<HINSTANCE>(instance),
                                                    as_template(buffer), nullptr, dialog_thunk,
                                                    reinterpret_cast<LPARAM>(procedure)));
}

WindowHandle dialog_open_modeless(ModuleHandle instance, int template_id, DialogProc procedure) {
    TemplateBuffer buffer;
    if (!build_template(template_id, &buffer)) return nullptr;
    return CreateDialogIndirectParamA(static_cast<HINSTANCE>(instance), as_template(buffer),
                                      nullptr, dialog_thunk, reinterpret_cast<LPARAM>(procedure));
}

void dialog_show(WindowHandle dialog) { ShowWindow(hwnd(dialog), SW_SHOWNORMAL); }

void dialog_destroy(WindowHandle dialog) { DestroyWindow(hwnd(dialog)); }

void dialog_end(WindowHandle dialog, int end_code) { EndDialog(hwnd(dialog), end_code); }

void dialog_set_title(WindowHandle dialog, const char* text) { SetWindowTextA(hwnd(dialog), text); }

void dialog_set_item_text(WindowHandle dialog, int control, const char* text) {
    SetDlgItemTextA(hwnd(dialog), control, text);
}

void dialog_get_item_text(WindowHandle dialog, int control, char* text, int size) {
    if (size <= 0) return;
    text[0] = 0;
    GetDlgItemTextA(hwnd(dialog), control, text, size);
}

void dialog_focus_item(WindowHandle dialog, int control) {
    SetFocus(GetDlgItem(hwnd(dialog), control));
}

void dialog_list_add(WindowHandle dialog, int control, const char* text) {
    SendDlgItemMessageA(hwnd(dialog), control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void dialog_list_select(WindowHandle dialog, int control, int index) {
    SendDlgItemMessageA(hwnd(dialog), control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int dialog_list_selection(WindowHandle dialog, int control) {
    LRESULT index = SendDlgItemMessageA(hwnd(dialog), control, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void dialog_progress_range(WindowHandle dialog, int control, int minimum, int maximum) {
    SendDlgItemMessageA(hwnd(dialog), control, PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum));
}

void dialog_progress_position(WindowHandle dialog, int control, int position) {
    SendDlgItemMessageA(hwnd(dialog), control, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void input_wake_note() { input_woke = true; }

bool input_wake_take() {
    bool woke = input_woke;
    input_woke = false;
    return woke;
}

bool dialog_pump_one(WindowHandle dialog) {
    bool due = !looked || GetTickCount() - looked_at >= PEEK_INTERVAL_MS;
    if (!input_wake_take() && !due) return false;
    return peek_and_dispatch(hwnd(dialog));
}

void dialog_pump_all(WindowHandle dialog) {
    input_wake_take();
    while (peek_and_dispatch(hwnd(dialog))) {
    }
}

int message_box_task_modal(const char* text, const char* title) {
    return MessageBoxA(nullptr, text, title, MB_OK | MB_TASKMODAL);
}

int message_box_owned(WindowHandle owner, const char* text, const char* title) {
    return MessageBoxA(hwnd(owner), text, title, MB_OK | MB_APPLMODAL);
}

bool window_screen_rect(WindowHandle window, ScreenRect* rect) {
    RECT native;
    if (!GetWindowRect(hwnd(window), &native)) return false;
    *rect = ScreenRect{native.left, native.top, native.right, native.bottom};
    return true;
}

void screen_size(int* width, int* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

void window_move_to_top(WindowHandle window, int x, int y) {
    SetWindowPos(hwnd(window), HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}
