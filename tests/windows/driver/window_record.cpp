// window-record.dll: a message hook that upgrade-driver lays over the desktop. Inside the process
// whose environment names a record file (TEV_WINDOW_RECORD) it appends a line for every top-level
// window shown and every title set, so that dialogs too brief to be read from the outside (a
// connecting dialog that lasts a millisecond, the last byte count of an upload) are seen too.
//   show <TAB> window <TAB> title <TAB> left top right bottom screen-width screen-height
//   title <TAB> window <TAB> title
// A second hook, for the scenarios that need it, makes the creation of a window fail when its
// template title is the one that TEV_REFUSE_WINDOW names, as when the system runs out of resources.
#include <windows.h>

#include <cstring>

namespace {

constexpr char RECORD_VARIABLE[] = "TEV_WINDOW_RECORD";
constexpr char REFUSE_VARIABLE[] = "TEV_REFUSE_WINDOW";

bool record_path(char* path, DWORD size) {
    DWORD length = GetEnvironmentVariableA(RECORD_VARIABLE, path, size);
    return length != 0 && length < size;
}

// One line, in one write, so that lines of two threads never interleave.
void append(const char* line, int length) {
    char path[MAX_PATH];
    if (!record_path(path, sizeof path)) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

bool top_level(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) == 0; }

void record_show(HWND window) {
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    RECT rect{};
    GetWindowRect(window, &rect);
    char line[512];
    int length = wsprintfA(line, "show\t%p\t%s\t%ld %ld %ld %ld %d %d\n", window, title, rect.left,
                           rect.top, rect.right, rect.bottom, GetSystemMetrics(SM_CXSCREEN),
                           GetSystemMetrics(SM_CYSCREEN));
    append(line, length);
}

void record_title(HWND window, const char* title) {
    char line[512];
    int length = wsprintfA(line, "title\t%p\t%.256s\n", window, title != nullptr ? title : "");
    append(line, length);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK record_window_messages(int code, WPARAM wparam,
                                                                         LPARAM lparam) {
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
        if (message->message == WM_SHOWWINDOW && message->wParam != 0 &&
            top_level(message->hwnd)) {
            record_show(message->hwnd);
        } else if (message->message == WM_SETTEXT && top_level(message->hwnd)) {
            record_title(message->hwnd, reinterpret_cast<const char*>(message->lParam));
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A CBT hook: answering the creation notice with a non-zero value makes the creation fail.
extern "C" __declspec(dllexport) LRESULT CALLBACK refuse_window_creation(int code, WPARAM wparam,
                                                                         LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        const auto* created = reinterpret_cast<const CBT_CREATEWNDA*>(lparam);
        const char* name = created->lpcs->lpszName;
        char refused[256];
        DWORD length = GetEnvironmentVariableA(REFUSE_VARIABLE, refused, sizeof refused);
        // A name may be a resource number rather than a text.
        bool is_text = name != nullptr && (reinterpret_cast<ULONG_PTR>(name) >> 16) != 0;
        if (length != 0 && length < sizeof refused && is_text && std::strcmp(name, refused) == 0) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}
