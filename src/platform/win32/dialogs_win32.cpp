// Windows, message boxes and the common controls on Windows.
#include <windows.h>
#include <commctrl.h>

#include "platform/dialogs.h"

namespace {

ClassWindowProc class_procedure = nullptr;

LRESULT CALLBACK class_thunk(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return class_procedure(window, message, wparam, lparam);
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

void dialogs_init_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);
}

int message_box_task_modal(const char* text, const char* title) {
    return MessageBoxA(nullptr, text, title, MB_OK | MB_TASKMODAL);
}

bool window_screen_rect(WindowHandle window, ScreenRect* rect) {
    RECT native;
    if (!GetWindowRect(static_cast<HWND>(window), &native)) return false;
    *rect = ScreenRect{native.left, native.top, native.right, native.bottom};
    return true;
}

void screen_size(int* width, int* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

void window_move_to_top(WindowHandle window, int x, int y) {
    SetWindowPos(static_cast<HWND>(window), HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}
