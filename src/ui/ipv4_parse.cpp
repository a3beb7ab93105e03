// The dotted IPv4 parser behind the address dialog.
#include "ui/ipv4_parse.h"

#include <cstring>

namespace {

constexpr int MIN_LENGTH = 7;
constexpr int MAX_LENGTH = 15;
constexpr int NUMBER_COUNT = 4;
constexpr std::uint32_t NUMBER_MAX = 255;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_separator(char c) { return c == '.' || c == '*'; }

}  // namespace

Ipv4ParseResult parse_ipv4_text(const char* text, std::uint32_t* address) {
    *address = 0;
    int length = 0;
    while (text[length] != 0 && length <= MAX_LENGTH) ++length;
    if (length < MIN_LENGTH || length > MAX_LENGTH) return IPV4_BAD_LENGTH;
    for (int i = 0; i < length; ++i) {
        if (!is_digit(text[i]) && !is_separator(text[i])) return IPV4_BAD_CHARACTER;
    }

    std::uint32_t numbers[NUMBER_COUNT] = {};
    int taken = 0;
    int i = 0;
    while (i < length) {
        if (is_separator(text[i])) {
            ++i;
            continue;
        }
        if (taken == NUMBER_COUNT) return IPV4_TOO_MANY_NUMBERS;
        // Stop growing the value once it is out of range, so a long run of digits cannot
        // overflow: it stays above 255 and is refused as such.
        std::uint32_t value = 0;
        for (; i < length && is_digit(text[i]); ++i) {
            if (value <= NUMBER_MAX) value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
        }
        if (value > NUMBER_MAX) return IPV4_NUMBER_RANGE;
        numbers[taken++] = value;
    }
    if (taken < NUMBER_COUNT) return IPV4_TOO_FEW_NUMBERS;
    *address = numbers[0] << 24 | numbers[1] << 16 | numbers[2] << 8 | numbers[3];
    return IPV4_OK;
}

const char* ipv4_refusal(const char* text) {
    std::uint32_t address = 0;
    switch (parse_ipv4_text(text, &address)) {
        case IPV4_OK: return address != 0 ? nullptr : "0.0.0.0 names no device";
        case IPV4_NUMBER_RANGE: return "a number is greater than 255";
        case IPV4_TOO_MANY_NUMBERS: return "it has more than four numbers";
        case IPV4_TOO_FEW_NUMBERS: return "it has fewer than four numbers";
        case IPV4_BAD_LENGTH:
            return std::strlen(text) > MAX_LENGTH ? "it is longer than 15 characters"
                                                  : "it is shorter than 7 characters";
        case IPV4_BAD_CHARACTER: return "only digits and full stops make an address";
    }
    return "it does not read as an address";
}
