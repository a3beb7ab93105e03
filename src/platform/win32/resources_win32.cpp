// Finding an embedded resource in the program's own module on Windows.
#include <windows.h>

#include "platform/resources.h"

bool resource_find(const char* type_name, int id, const std::uint8_t** data, std::uint32_t* size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type_name);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return false;
    *data = static_cast<const std::uint8_t*>(bytes);
    *size = SizeofResource(module, found);
    return true;
}
