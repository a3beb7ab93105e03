// The header block of an HTTP answer: its end, its lines, a header found by name in any case.
#include "web/http_headers.h"

#include <cstring>

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equals_ignoring_case(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (lower(*a) != lower(*b)) return false;
        if (*a == 0) return true;
    }
}

bool span_equals_ignoring_case(const char* text, std::size_t length, const char* word) {
    std::size_t i = 0;
    for (; i < length; ++i) {
        if (word[i] == 0 || lower(text[i]) != lower(word[i])) return false;
    }
    return word[i] == 0;
}

bool ends_header_block(const char* line) {
    return line[0] == 0 || line[0] == '\n' || (line[0] == '\r' && (line[1] == '\n' || line[1] == 0));
}

const char* next_line(const char* line) {
    const char* end = std::strchr(line, '\n');
    return end == nullptr ? nullptr : end + 1;
}

const char* header_value(const char* line, const char* name) {
    const char* colon = line;
    while (*colon != ':' && *colon != 0 && *colon != '\n') ++colon;
    if (*colon != ':') return nullptr;
    if (!span_equals_ignoring_case(line, static_cast<std::size_t>(colon - line), name)) return nullptr;
    const char* value = colon + 1;
    while (is_blank(*value)) ++value;
    return value;
}

const char* find_header(const char* lines, const char* name) {
    for (const char* line = lines; line != nullptr && !ends_header_block(line); line = next_line(line)) {
        const char* value = header_value(line, name);
        if (value != nullptr) return value;
    }
    return nullptr;
}

std::size_t find_header_end(const char* text, std::size_t length, HeaderEndSearch* search) {
    for (; search->scanned < length; ++search->scanned) {
        if (text[search->scanned] != '\n') continue;
        std::size_t line_length = search->scanned - search->line_start;
        bool empty = line_length == 0 || (line_length == 1 && text[search->line_start] == '\r');
        bool status_line = search->line_start == 0;
        search->line_start = search->scanned + 1;
        if (empty && !status_line) {
            ++search->scanned;
            return search->scanned;
        }
    }
    return 0;
}
