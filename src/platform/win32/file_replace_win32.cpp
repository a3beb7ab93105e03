// Replacing a file whole on Windows: a temporary file beside it, flushed, moved over it.
#include "platform/file_replace.h"

#include <windows.h>

bool file_replace(const std::string& path, const std::string& text, std::string* problem) {
    std::string temporary = path + ".tmp" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
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
    *problem = "can't write " + path + ": error " + std::to_string(error);
    if (file != INVALID_HANDLE_VALUE) DeleteFileA(temporary.c_str());
    return false;
}
