// Reading a dotted IPv4 address typed by the user.
#pragma once
#include <cstdint>

enum Ipv4ParseResult {
    IPV4_OK = 0,
    IPV4_NUMBER_RANGE = 1,      // a number is greater than 255
    IPV4_TOO_MANY_NUMBERS = 2,  // a fifth number follows the fourth
    IPV4_TOO_FEW_NUMBERS = 3,
    IPV4_BAD_LENGTH = 4,     // shorter than 7 or longer than 15 characters
    IPV4_BAD_CHARACTER = 5,  // something other than a digit, "." or "*"
};

// Sets *address to 0, then to the address in host byte order when the text reads as four numbers
// separated by runs of "." or "*". 0.0.0.0 reads as IPV4_OK with the address 0.
Ipv4ParseResult parse_ipv4_text(const char* text, std::uint32_t* address);

// Why the typed text names no device, in words for the person who typed it ("a number is greater
// than 255"); nullptr when it does. 0.0.0.0 reads, but names no device.
const char* ipv4_refusal(const char* text);
