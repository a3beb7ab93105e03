// A hidden child of the list window: no window shown, and its standard input's end pressed as
// Cancel in whichever dialog of the process has one (the connecting, waiting or upload dialog),
// again every little while until the run has ended by it.
#include <windows.h>

#include "platform/win32/hidden_run.h"
#include "res/dialog_ids.h"

namespace {

constexpr DWORD PRESS_AGAIN_MS = 200;

BOOL CALLBACK press_cancel(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[16] = "";
    if (process != GetCurrentProcessId() || GetClassNameA(window, name, sizeof name) == 0 ||
        lstrcmpA(name, "#32770") != 0) {
        return TRUE;
    }
    HWND button = GetDlgItem(window, CONTROL_CANCEL);
    if (button != nullptr) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(CONTROL_CANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
    return TRUE;
}

DWORD WINAPI watch_input(void* input) {
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(static_cast<HANDLE>(input), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    for (;;) {
        EnumWindows(press_cancel, 0);
        Sleep(PRESS_AGAIN_MS);
    }
}

}  // namespace

void hidden_run_start() {
    dialogs_hide_all();
    // Only a pipe from the parent is watched: no standard input at all is no cancel.
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_PIPE) {
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, watch_input, input, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}
