// Helpers of the Win32 test drivers: checks, windows of another process, screenshots, programs.
#include "driver_support.h"

#include <cstdio>

namespace {

int failures = 0;

struct Search {
    DWORD process_id;
    const char* title;  // nullptr: any
    HWND owner;
    const std::vector<std::string>* prefixes;  // nullptr: any
    std::vector<HWND> found;
};

bool has_prefix(const std::string& text, const std::vector<std::string>& prefixes) {
    for (const std::string& prefix : prefixes) {
        if (text.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

BOOL CALLBACK match_window(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (process_id != search->process_id || !IsWindowVisible(window)) return TRUE;
    if (class_of(window) != DIALOG_CLASS) return TRUE;
    if (GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    if (search->title != nullptr && window_text(window) != search->title) return TRUE;
    if (search->prefixes != nullptr && !has_prefix(window_text(window), *search->prefixes)) {
        return TRUE;
    }
    search->found.push_back(window);
    return TRUE;
}

HWND first_found(DWORD process_id, HWND owner, const char* title,
                 const std::vector<std::string>* prefixes) {
    Search search{process_id, title, owner, prefixes, {}};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

void send_key(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void bring_to_front(HWND window) {
    if (GetForegroundWindow() == window) return;
    SetForegroundWindow(window);
    Sleep(300);
}

}  // namespace

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

int failure_count() { return failures; }

std::string hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", value);
    return text;
}

std::string visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string window_text(HWND window) {
    char text[2048] = "";
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

std::string class_of(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool same_class(const std::string& seen, const char* wanted) {
    return lstrcmpiA(seen.c_str(), wanted) == 0;
}

LRESULT ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::vector<HWND> children_of(HWND dialog) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND find_dialog(DWORD process_id, HWND owner, const char* title) {
    return first_found(process_id, owner, title, nullptr);
}

HWND wait_for_dialog(DWORD process_id, HWND owner, const char* title, DWORD wait_ms) {
    for (DWORD waited = 0; waited < wait_ms; waited += STEP_MS) {
        HWND found = find_dialog(process_id, owner, title);
        if (found != nullptr) {
            Sleep(300);  // let it paint
            return found;
        }
        Sleep(STEP_MS);
    }
    return nullptr;
}

HWND wait_for_dialog_titled(DWORD process_id, const std::vector<std::string>& prefixes,
                            DWORD wait_ms) {
    for (DWORD waited = 0; waited < wait_ms; waited += STEP_MS) {
        HWND found = first_found(process_id, nullptr, nullptr, &prefixes);
        if (found != nullptr) return found;
        Sleep(STEP_MS);
    }
    return nullptr;
}

void describe_dialogs(DWORD process_id) {
    Search search{process_id, nullptr, nullptr, nullptr, {}};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    std::printf("     %d dialog(s) on the screen\n", static_cast<int>(search.found.size()));
    for (HWND dialog : search.found) {
        std::printf("     '%s'\n", window_text(dialog).c_str());
        for (HWND child : children_of(dialog)) {
            std::string text = window_text(child);
            if (!text.empty()) std::printf("       %s: '%s'\n", class_of(child).c_str(),
                                           visible(text).c_str());
        }
    }
    std::fflush(stdout);
}

bool wait_until_gone(HWND window, DWORD wait_ms) {
    for (DWORD waited = 0; IsWindow(window) && waited < wait_ms; waited += STEP_MS) Sleep(STEP_MS);
    return !IsWindow(window);
}

void save_screenshot(HWND window, const std::string& folder, const std::string& name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(200);
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(stride * static_cast<DWORD>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file_header{};
    file_header.bfType = 0x4D42;
    file_header.bfOffBits = sizeof file_header + sizeof info;
    file_header.bfSize = file_header.bfOffBits + static_cast<DWORD>(pixels.size());
    std::string path = folder + "\\" + name + ".bmp";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(&file_header, sizeof file_header, 1, file);
    std::fwrite(&info, sizeof info, 1, file);
    std::fwrite(pixels.data(), 1, pixels.size(), file);
    std::fclose(file);
}

void check_text(HWND dialog, int id, const std::string& wanted, const std::string& name) {
    std::string seen = window_text(GetDlgItem(dialog, id));
    check(seen == wanted, name + ": control " + std::to_string(id) + " shows '" + visible(seen) +
                              "'" + (seen == wanted ? "" : ", want '" + visible(wanted) + "'"));
}

void check_centred(HWND dialog, const std::string& name) {
    RECT rect;
    GetWindowRect(dialog, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) >> 1;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) >> 1;
    check(rect.left == x && rect.top == y, name + ": at " + std::to_string(rect.left) + "," +
                                               std::to_string(rect.top) + ", centred is " +
                                               std::to_string(x) + "," + std::to_string(y));
}

HWND focus_of(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void check_focus(HWND dialog, int id, const std::string& name) {
    HWND control = GetDlgItem(dialog, id);
    HWND focus = nullptr;
    bool there = eventually([&] {
        focus = focus_of(dialog);
        return focus != nullptr && (focus == control || IsChild(control, focus));
    });
    check(there,
          name + ": focus on control " + std::to_string(id) + " (focus in a " +
              (focus == nullptr ? std::string("(none)") : class_of(focus)) + ")");
}

void click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void press_key(HWND window, WORD key, bool shift) {
    bring_to_front(window);
    if (shift) send_key(VK_SHIFT, false);
    send_key(key, false);
    send_key(key, true);
    if (shift) send_key(VK_SHIFT, true);
    Sleep(50);
}

void type_text(HWND window, const std::string& text) {
    for (char c : text) {
        SHORT scan = VkKeyScanA(c);
        press_key(window, static_cast<WORD>(scan & 0xFF), (scan & 0x100) != 0);
    }
}

void answer_box(HWND box, const std::string& text, const std::string& name) {
    bool said = false;
    for (HWND child : children_of(box)) {
        if (same_class(class_of(child), "Static") && window_text(child) == text) said = true;
    }
    check(said, name + ": the box says '" + text + "'");
    HWND ok = GetDlgItem(box, IDOK);
    check(ok != nullptr && IsWindowVisible(ok), name + ": the box has OK");
    PostMessageA(ok, BM_CLICK, 0, 0);
}

bool start_program(const std::string& command_line, Program* program, const std::string& name) {
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back(0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &program->process) != 0;
    check(started, name + ": started");
    return started;
}

bool wait_for_exit(Program* program, DWORD* status, DWORD wait_ms) {
    if (WaitForSingleObject(program->process.hProcess, wait_ms) != WAIT_OBJECT_0) {
        TerminateProcess(program->process.hProcess, 1);
        return false;
    }
    GetExitCodeProcess(program->process.hProcess, status);
    CloseHandle(program->process.hProcess);
    CloseHandle(program->process.hThread);
    program->process = PROCESS_INFORMATION{};
    return true;
}

// The item's text is copied into memory of the list's own process, then read from there: a
// pointer of this process means nothing in the other one.
std::string list_view_text(HWND list, int row, int column) {
    DWORD process_id = 0;
    GetWindowThreadProcessId(list, &process_id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                                 process_id);
    if (process == nullptr) return "";
    constexpr SIZE_T TEXT_SIZE = 512;
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, sizeof(LVITEMA) + TEXT_SIZE,
                                                     MEM_COMMIT, PAGE_READWRITE));
    std::string text;
    if (remote != nullptr) {
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = remote + sizeof item;
        item.cchTextMax = TEXT_SIZE;
        char buffer[TEXT_SIZE] = "";
        SIZE_T moved = 0;
        if (WriteProcessMemory(process, remote, &item, sizeof item, &moved) &&
            SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                         reinterpret_cast<LPARAM>(remote)) >= 0 &&
            ReadProcessMemory(process, remote + sizeof item, buffer, TEXT_SIZE - 1, &moved)) {
            buffer[TEXT_SIZE - 1] = 0;
            text = buffer;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

int count_processes(const char* exe_name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, exe_name) == 0) ++count;
    }
    CloseHandle(snapshot);
    return count;
}
