// Finding an embedded resource on POSIX: a look-up in the table the build links in.
#include "platform/resources.h"

#include <cstring>

#include "platform/posix/embedded_resources.h"

bool resource_find(const char* type_name, int id, const std::uint8_t** data, std::uint32_t* size) {
    int count = 0;
    const EmbeddedResource* table = embedded_resources(&count);
    for (int i = 0; i < count; ++i) {
        if (table[i].id == id && std::strcmp(table[i].type_name, type_name) == 0) {
            *data = table[i].data;
            *size = table[i].size;
            return true;
        }
    }
    return false;
}
