// Reading a version text such as "3.2.9(b)" as one comparable number (30209).
#include <cstdint>

#include "app/upgrade_sequence.h"

namespace {

constexpr std::uint64_t NUMBER_LIMIT = 0xFFFFFFFFu;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// An unsigned number as the C library reads one with base 0, held to 32 bits on every platform:
// blanks skipped, one sign, 0x for hexadecimal, a leading 0 for octal, saturating at 4294967295.
// Where no digit follows, *end stays at text.
std::uint32_t read_number(const char* text, const char** end) {
    const char* at = text;
    while (is_space(*at)) ++at;
    bool negative = false;
    if (*at == '+' || *at == '-') negative = *at++ == '-';
    int base = 10;
    if (at[0] == '0' && (at[1] == 'x' || at[1] == 'X') && digit_value(at[2]) < 16) {
        base = 16;
        at += 2;
    } else if (at[0] == '0') {
        base = 8;
    }
    const char* first_digit = at;
    std::uint64_t value = 0;
    bool saturated = false;
    for (; digit_value(*at) < base; ++at) {
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit_value(*at));
        if (value > NUMBER_LIMIT) {
            saturated = true;
            value = NUMBER_LIMIT;
        }
    }
    if (at == first_digit) {
        *end = text;
        return 0;
    }
    *end = at;
    if (saturated) return static_cast<std::uint32_t>(NUMBER_LIMIT);
    auto number = static_cast<std::uint32_t>(value);
    return negative ? 0u - number : number;
}

}  // namespace

std::int32_t version_value(const char* text) {
    std::uint32_t value = 0;
    const char* at = text;
    for (int component = 0; component < 3; ++component) {
        std::uint32_t number = read_number(at, &at);
        value = value * 100u + number;
        if (*at == 0) break;
        ++at;  // one separator, whatever it is
    }
    return static_cast<std::int32_t>(value);
}
