// Replacing a file whole on Windows: a temporary file beside it, created anew, flushed, moved
// over it.
#include "platform/file_replace.h"

#include <windows.h>

namespace {

// Names tried beside the file before giving up: PATH.tmpPID, then PATH.tmpPID.1, ...
constexpr int TEMPORARY_NAMES = 100;

// A temporary file of a name nobody holds: CREATE_NEW never opens what exists at that name.
HANDLE create_temporary(const std::string& path, std::string* name) {
    std::string base = path + ".tmp" + std::to_string(GetCurrentProcessId());
    for (int i = 0; i < TEMPORARY_NAMES; ++i) {
        *name = i == 0 ? base : base + "." + std::to_string(i);
        HANDLE file = CreateFileA(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// The system's words for an error ("The system cannot find the path specified."), without the
// line break it ends with; the number when it has none.
std::string error_text(DWORD error) {
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        text[--length] = 0;
    }
    return length > 0 ? std::string(text) : "error " + std::to_string(error);
}

}  // namespace

bool file_replace(const std::string& path, const std::string& text, std::string* problem) {
    std::string temporary;
    HANDLE file = create_temporary(path, &temporary);
    bool written = file != INVALID_HANDLE_VALUE;
    DWORD wrote = 0;
    written = written && WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote,
                                   nullptr) != 0 && wrote == text.size();
    written = written && FlushFileBuffers(file) != 0;
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (written && MoveFileExA(temporary.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
        return true;
    }
    if (written) error = GetLastError();
    *problem = "can't write " + path + ": " + error_text(error);
    if (file != INVALID_HANDLE_VALUE) DeleteFileA(temporary.c_str());
    return false;
}
