// Bounded text assembly for request and header lines: appends never pass the end of the buffer.
#pragma once
#include <cstddef>

struct TextBuilder {
    char* text;
    std::size_t size;    // bytes available at text, the NUL included
    std::size_t length;  // characters written so far, always below size
};

// Starts an empty text at out; size must be at least 1.
void text_begin(TextBuilder* builder, char* out, std::size_t size);
// Appends formatted text; whatever does not fit is cut off and the text stays NUL-terminated.
void text_append(TextBuilder* builder, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Appends value as the inside of a quoted string: each '"' and '\\' after a backslash (RFC 7230's
// quoted-pair), so that a reader who unescapes gets value back. Cut off like text_append.
void text_append_escaped(TextBuilder* builder, const char* value);
// Copies at most size - 1 characters of source into destination and terminates it.
void copy_text(char* destination, std::size_t size, const char* source);
