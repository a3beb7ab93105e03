// Building the packets the TFTP server sends.
#include "tftp/tftp_packets.h"

#include <cstdio>
#include <cstring>

void put_u16_be(std::uint8_t* destination, std::uint32_t value) {
    destination[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    destination[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint32_t get_u16_be(const std::uint8_t* source) {
    return static_cast<std::uint32_t>(source[0]) * 256u + source[1];
}

bool request_names_options(const std::uint8_t* datagram, long length) {
    auto end = static_cast<std::size_t>(length > 0 ? length : 0);
    std::size_t at = 2;
    for (int field = 0; field < 2; ++field) {  // the file name, then the mode
        const void* nul = at < end ? std::memchr(datagram + at, 0, end - at) : nullptr;
        if (nul == nullptr) return true;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - datagram) + 1;
    }
    // Padding NULs after the mode name nothing.
    for (; at < end; ++at) {
        if (datagram[at] != 0) return true;
    }
    return false;
}

namespace {
std::size_t append_text(std::uint8_t* buffer, std::size_t at, const char* text) {
    std::size_t length = std::strlen(text) + 1;  // the NUL travels too
    std::memcpy(buffer + at, text, length);
    return at + length;
}
}  // namespace

std::size_t build_tftp_oack(std::uint8_t* buffer, std::uint32_t transfer_size) {
    char size_text[16];
    std::snprintf(size_text, sizeof size_text, "%u", static_cast<unsigned>(transfer_size));
    put_u16_be(buffer, TFTP_OPCODE_OACK);
    std::size_t at = append_text(buffer, 2, "tsize");
    at = append_text(buffer, at, size_text);
    at = append_text(buffer, at, "timeout");
    return append_text(buffer, at, "5");
}

int send_tftp_oack(NetSocket socket, std::uint8_t* buffer, const NetAddress& peer,
                   std::uint32_t transfer_size) {
    std::size_t length = build_tftp_oack(buffer, transfer_size);
    return static_cast<int>(net_send_to(socket, buffer, length, peer));
}

int send_tftp_data(NetSocket socket, std::uint8_t* buffer, const std::uint8_t* data,
                   std::uint32_t length, std::uint32_t block, const NetAddress& peer) {
    put_u16_be(buffer, TFTP_OPCODE_DATA);
    put_u16_be(buffer + 2, block);
    if (length > 0) std::memcpy(buffer + TFTP_HEADER_SIZE, data, length);
    return static_cast<int>(net_send_to(socket, buffer, length + TFTP_HEADER_SIZE, peer));
}
