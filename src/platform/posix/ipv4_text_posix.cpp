// Dotted IPv4 text on POSIX: inet_pton.
#include "platform/posix/ipv4_text.h"

#include <arpa/inet.h>

bool ipv4_text_read(const char* text, std::uint32_t* address) {
    in_addr read{};
    if (inet_pton(AF_INET, text, &read) != 1) return false;
    *address = ntohl(read.s_addr);
    return true;
}
