// Builds and reads the few TFTP packets the device's client needs.
#include "tftp_packets.h"

#include <cstdlib>
#include <strings.h>

namespace {

void put_u16(Packet* packet, std::uint16_t value) {
    packet->push_back(static_cast<std::uint8_t>(value >> 8));
    packet->push_back(static_cast<std::uint8_t>(value & 0xff));
}

void put_text(Packet* packet, const std::string& text) {
    packet->insert(packet->end(), text.begin(), text.end());
    packet->push_back(0);
}

// The NUL-terminated text at `at`; empty and `at` at the end when no NUL follows.
std::string take_text(const std::uint8_t* packet, std::size_t length, std::size_t* at) {
    std::size_t start = *at;
    while (*at < length && packet[*at] != 0) ++*at;
    if (*at >= length) {
        *at = length;
        return "";
    }
    std::string text(reinterpret_cast<const char*>(packet + start), *at - start);
    ++*at;
    return text;
}

}  // namespace

Packet tftp_rrq(const std::string& file_name, bool with_options) {
    Packet packet;
    put_u16(&packet, TFTP_RRQ);
    put_text(&packet, file_name);
    put_text(&packet, "octet");
    if (!with_options) return packet;
    put_text(&packet, "tsize");
    put_text(&packet, "0");
    put_text(&packet, "timeout");
    put_text(&packet, "5");
    return packet;
}

Packet tftp_ack(std::uint16_t block) {
    Packet packet;
    put_u16(&packet, TFTP_ACK);
    put_u16(&packet, block);
    return packet;
}

Packet tftp_error(std::uint16_t code, const std::string& message) {
    Packet packet;
    put_u16(&packet, TFTP_ERROR);
    put_u16(&packet, code);
    put_text(&packet, message);
    return packet;
}

std::uint16_t tftp_u16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]); }

std::string tftp_oack_options(const std::uint8_t* packet, std::size_t length, long long* tsize) {
    *tsize = -1;
    std::string listed;
    std::size_t at = 2;
    while (at < length) {
        std::string name = take_text(packet, length, &at);
        std::string value = take_text(packet, length, &at);
        if (name.empty()) break;
        if (!listed.empty()) listed += " ";
        listed += name + "=" + value;
        if (strcasecmp(name.c_str(), "tsize") == 0) {
            char* end = nullptr;
            long long size = std::strtoll(value.c_str(), &end, 10);
            if (end != value.c_str() && *end == 0 && size >= 0) *tsize = size;
        }
    }
    return listed;
}

std::string tftp_error_text(const std::uint8_t* packet, std::size_t length) {
    if (length < 4) return "(short ERROR packet)";
    std::size_t at = 4;
    std::string message = take_text(packet, length, &at);
    return "code " + std::to_string(tftp_u16(packet + 2)) + " \"" + message + "\"";
}
