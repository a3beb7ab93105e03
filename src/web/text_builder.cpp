// Bounded text assembly for request and header lines.
#include "web/text_builder.h"

#include <cstdarg>
#include <cstdio>

void text_begin(TextBuilder* builder, char* out, std::size_t size) {
    builder->text = out;
    builder->size = size;
    builder->length = 0;
    out[0] = 0;
}

void text_append(TextBuilder* builder, const char* format, ...) {
    std::size_t room = builder->size - builder->length;
    va_list arguments;
    va_start(arguments, format);
    int wanted = std::vsnprintf(builder->text + builder->length, room, format, arguments);
    va_end(arguments);
    if (wanted < 0) {
        builder->text[builder->length] = 0;
        return;
    }
    // vsnprintf reports the full length; only what fit before the NUL was written.
    std::size_t added = static_cast<std::size_t>(wanted);
    builder->length += added < room ? added : room - 1;
}

void text_append_escaped(TextBuilder* builder, const char* value) {
    for (const char* at = value; *at != 0 && builder->length + 1 < builder->size; ++at) {
        // An escape goes in whole or not at all: a lone backslash at the end would swallow the
        // closing quote.
        if (*at == '"' || *at == '\\') {
            if (builder->length + 2 >= builder->size) break;
            builder->text[builder->length++] = '\\';
        }
        builder->text[builder->length++] = *at;
    }
    builder->text[builder->length] = 0;
}

void copy_text(char* destination, std::size_t size, const char* source) {
    std::size_t length = 0;
    while (length + 1 < size && source[length] != 0) {
        destination[length] = source[length];
        ++length;
    }
    destination[length] = 0;
}
