// Resources carried inside the program itself: the firmware images, found by type name and id.
#pragma once
#include <cstdint>

// True when the module carries the resource; then *data and *size describe its bytes, which stay
// valid for the life of the process.
bool resource_find(const char* type_name, int id, const std::uint8_t** data, std::uint32_t* size);
