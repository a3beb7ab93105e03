// Windows, dialogs, message boxes and the common controls on Windows. Every dialog is built at
// run time from the template table, so the table is the one source of both builds' dialogs.
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <atomic>
#include <cstdio>  // sscanf

#include "platform/dialogs.h"
#include "platform/win32/hidden_run.h"
#include "platform/win32/input_wake.h"
#include "res/dialog_template_bytes.h"

namespace {

ClassWindowProc class_procedure = nullptr;
// A child of the list window's run: no window of it is ever shown, no box either.
bool hidden = false;

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

// --- Answers from the options ---
// They take their turn once the dialog is up: a timer's message comes only when the queue holds
// nothing else, so the dialog has been shown and drawn. A press is sent as a click sends it; a
// dialog still open after it gets another turn, which tells the answers it refused them.

std::atomic<DialogAnswers*> answers{nullptr};
constexpr UINT_PTR ANSWER_TIMER = 0x7E57;
constexpr UINT ANSWER_DELAY_MS = 100;

// One modal dialog while it runs; the runs of a thread form a stack (a message box's loop may
// run inside a dialog's).
struct ModalRun {
    DialogProc procedure;
    int template_id;
    HWND dialog;
    int presses;
    bool ended;
    ModalRun* outer;
    int end_code;
};
thread_local ModalRun* modal_runs = nullptr;

void take_answer(ModalRun* run) {
    DialogAnswers* source = answers.load();
    if (source == nullptr || run->ended) return;
    int command = source->answer_dialog(run->dialog, run->template_id, run->presses);
    if (command == 0 || run->ended) return;
    ++run->presses;
    SendMessageA(run->dialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(run->dialog, command)));
    if (!run->ended) SetTimer(run->dialog, ANSWER_TIMER, ANSWER_DELAY_MS, nullptr);
}

// Unattended, a message box presses its own OK once it is up.
thread_local HHOOK box_hook = nullptr;

void CALLBACK press_box_ok(HWND box, UINT, UINT_PTR timer, DWORD) {
    KillTimer(box, timer);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// The box is the first dialog window the thread creates once the hook is in.
LRESULT CALLBACK catch_box(int code, WPARAM wparam, LPARAM lparam) {
    auto window = reinterpret_cast<HWND>(wparam);
    char name[16] = "";
    if (code == HCBT_CREATEWND && box_hook != nullptr &&
        GetClassNameA(window, name, sizeof name) != 0 && lstrcmpA(name, "#32770") == 0) {
        SetTimer(window, ANSWER_TIMER, ANSWER_DELAY_MS, press_box_ok);
        HHOOK hook = box_hook;
        box_hook = nullptr;  // the box alone, not what its owner does after it
        LRESULT next = CallNextHookEx(hook, code, wparam, lparam);
        UnhookWindowsHookEx(hook);
        return next;
    }
    return CallNextHookEx(box_hook, code, wparam, lparam);
}

int message_box(HWND owner, const char* text, const char* title, UINT style) {
    // Hidden, the box's text has gone to the run's record and events already; nobody reads it.
    if (hidden) return IDOK;
    DialogAnswers* source = answers.load();
    if (source != nullptr && source->unattended() && box_hook == nullptr) {
        box_hook = SetWindowsHookExA(WH_CBT, catch_box, nullptr, GetCurrentThreadId());
    }
    int result = MessageBoxA(owner, text, title, style);
    if (box_hook != nullptr) {
        UnhookWindowsHookEx(box_hook);
        box_hook = nullptr;
    }
    return result;
}

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
    if (build_dialog_template_bytes(*dialog, buffer->bytes, sizeof buffer->bytes) == 0) return false;
    // Hidden, the dialog is created without WS_VISIBLE (the style is the template's first field).
    if (hidden) reinterpret_cast<DLGTEMPLATE*>(buffer->bytes)->style &= ~WS_VISIBLE;
    return true;
}

const DLGTEMPLATE* as_template(const TemplateBuffer& buffer) {
    return reinterpret_cast<const DLGTEMPLATE*>(buffer.bytes);
}

// A modal dialog's procedure is found through its run, which also gives the answers their turn.
INT_PTR CALLBACK modal_thunk(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* run = reinterpret_cast<ModalRun*>(lparam);
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        run->dialog = dialog;
        if (answers.load() != nullptr) SetTimer(dialog, ANSWER_TIMER, ANSWER_DELAY_MS, nullptr);
        return run->procedure(dialog, message, wparam, 0);
    }
    auto* run = reinterpret_cast<ModalRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (run == nullptr) return FALSE;
    if (message == WM_TIMER && wparam == ANSWER_TIMER) {
        KillTimer(dialog, ANSWER_TIMER);
        take_answer(run);
        return TRUE;
    }
    return run->procedure(dialog, message, wparam, lparam);
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

void dialogs_use_answers(DialogAnswers* source) { answers.store(source); }

void dialogs_init_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);
}

namespace {

// The system's modal loop shows its dialog once the queue is empty; a hidden run keeps a loop of
// its own around a dialog that is never shown.
int run_hidden_modal(HINSTANCE instance, const TemplateBuffer& buffer, ModalRun* run) {
    HWND dialog = CreateDialogIndirectParamA(instance, as_template(buffer), nullptr, modal_thunk,
                                             reinterpret_cast<LPARAM>(run));
    if (dialog == nullptr) return -1;
    MSG message;
    while (!run->ended && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyWindow(dialog);
    return run->end_code;
}

}  // namespace

int dialog_run_modal(ModuleHandle instance, int template_id, DialogProc procedure) {
    TemplateBuffer buffer;
    if (!build_template(template_id, &buffer)) return -1;
    ModalRun run{procedure, template_id, nullptr, 0, false, modal_runs, -1};
    modal_runs = &run;
    auto end_code =
        hidden ? run_hidden_modal(static_cast<HINSTANCE>(instance), buffer, &run)
               : DialogBoxIndirectParamA(static_cast<HINSTANCE>(instance), as_template(buffer),
                                         nullptr, modal_thunk, reinterpret_cast<LPARAM>(&run));
    modal_runs = run.outer;
    return static_cast<int>(end_code);
}

WindowHandle dialog_open_modeless(ModuleHandle instance, int template_id, DialogProc procedure) {
    TemplateBuffer buffer;
    if (!build_template(template_id, &buffer)) return nullptr;
    return CreateDialogIndirectParamA(static_cast<HINSTANCE>(instance), as_template(buffer),
                                      nullptr, dialog_thunk, reinterpret_cast<LPARAM>(procedure));
}

void dialog_show(WindowHandle dialog) {
    if (!hidden) ShowWindow(hwnd(dialog), SW_SHOWNORMAL);
}

void dialog_destroy(WindowHandle dialog) { DestroyWindow(hwnd(dialog)); }

void dialog_end(WindowHandle dialog, int end_code) {
    for (ModalRun* run = modal_runs; run != nullptr; run = run->outer) {
        if (run->dialog == hwnd(dialog)) {
            run->ended = true;
            run->end_code = end_code;
        }
    }
    EndDialog(hwnd(dialog), end_code);
}

void dialog_set_title(WindowHandle dialog, const char* text) { SetWindowTextA(hwnd(dialog), text); }

namespace {

// The address control takes an address as its four numbers (IPM_SETADDRESS), not as a text.
bool set_address(HWND control, const char* text) {
    char name[32] = "";
    GetClassNameA(control, name, sizeof name);
    if (lstrcmpiA(name, WC_IPADDRESSA) != 0) return false;
    unsigned part[4];
    char after = 0;
    int read = std::sscanf(text, "%3u.%3u.%3u.%3u%c", &part[0], &part[1], &part[2], &part[3],
                           &after);
    if (read != 4 || part[0] > 255 || part[1] > 255 || part[2] > 255 || part[3] > 255) {
        return false;
    }
    SendMessageA(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(part[0], part[1], part[2], part[3]));
    return true;
}

}  // namespace

void dialog_set_item_text(WindowHandle dialog, int control, const char* text) {
    if (!set_address(GetDlgItem(hwnd(dialog), control), text)) {
        SetDlgItemTextA(hwnd(dialog), control, text);
    }
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
    // After a wait that input ended, every message waiting is taken: a wait does not wake again
    // for messages that were already in the queue when a look found the first of them, so a click
    // (a press, a release, then the command) would otherwise wait for the wait's time-out.
    if (input_wake_take()) {
        bool handled = false;
        while (peek_and_dispatch(hwnd(dialog))) handled = true;
        return handled;
    }
    bool due = !looked || GetTickCount() - looked_at >= PEEK_INTERVAL_MS;
    if (!due) return false;
    return peek_and_dispatch(hwnd(dialog));
}

void dialog_pump_all(WindowHandle dialog) {
    input_wake_take();
    while (peek_and_dispatch(hwnd(dialog))) {
    }
}

int message_box_task_modal(const char* text, const char* title) {
    return message_box(nullptr, text, title, MB_OK | MB_TASKMODAL);
}

int message_box_owned(WindowHandle owner, const char* text, const char* title) {
    return message_box(hwnd(owner), text, title, MB_OK | MB_APPLMODAL);
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
    SetWindowPos(hwnd(window), HWND_TOP, x, y, 0, 0, SWP_NOSIZE | (hidden ? SWP_NOACTIVATE : 0));
}

void dialogs_hide_all() { hidden = true; }
