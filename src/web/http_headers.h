// Reading an HTTP answer's header block: its lines up to the empty line that ends it, and a
// header's value by its name in any letter case. The body after the empty line is never searched.
#pragma once
#include <cstddef>

// A blank between the words of a header line: a space or a tab.
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool equals_ignoring_case(const char* a, const char* b);
// True when the length characters at text equal word, ignoring letter case.
bool span_equals_ignoring_case(const char* text, std::size_t length, const char* word);

// True at the empty line that ends the header block (CR LF, a lone LF) or at the end of the text.
bool ends_header_block(const char* line);
// The line after the one at line, or nullptr when no line end follows.
const char* next_line(const char* line);
// When the header line at line is named name (in any letter case), its value: the text after the
// colon and the blanks; otherwise nullptr. The value runs to the end of its line.
const char* header_value(const char* line, const char* name);
// The value of the first header named name among the header lines from lines on, up to the empty
// line; nullptr when none is.
const char* find_header(const char* lines, const char* name);

// Where the empty line that ends a header block ends, searched in text[0, length) from a place
// kept between calls (start it at 0): 0 while the empty line has not arrived. A line ends in LF,
// with or without CR; the first line (the status line) never counts as the empty one.
struct HeaderEndSearch {
    std::size_t scanned;     // characters looked at so far
    std::size_t line_start;  // where the line being looked at starts
};
std::size_t find_header_end(const char* text, std::size_t length, HeaderEndSearch* search);
