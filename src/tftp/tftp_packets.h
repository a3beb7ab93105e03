// TFTP packet layouts the server reads and writes, and the big-endian 16-bit fields inside them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/net.h"

constexpr std::uint32_t TFTP_OPCODE_RRQ = 1;
constexpr std::uint32_t TFTP_OPCODE_WRQ = 2;
constexpr std::uint32_t TFTP_OPCODE_DATA = 3;
constexpr std::uint32_t TFTP_OPCODE_ACK = 4;
constexpr std::uint32_t TFTP_OPCODE_ERROR = 5;
constexpr std::uint32_t TFTP_OPCODE_OACK = 6;
constexpr std::uint32_t TFTP_BLOCK_SIZE = 512;
constexpr int TFTP_HEADER_SIZE = 4;

// Writes the low 16 bits of value, most significant byte first.
void put_u16_be(std::uint8_t* destination, std::uint32_t value);
std::uint32_t get_u16_be(const std::uint8_t* source);

// Whether a read request (length bytes as received, the opcode first) names any option after its
// file name and mode (RFC 2347). A request cut before its mode's NUL counts as naming some: the
// server then answers as it always did, with the OACK.
bool request_names_options(const std::uint8_t* datagram, long length);

// Builds the option acknowledgement ("tsize" with the size, "timeout" 5); returns its length.
std::size_t build_tftp_oack(std::uint8_t* buffer, std::uint32_t transfer_size);
int send_tftp_oack(NetSocket socket, std::uint8_t* buffer, const NetAddress& peer,
                   std::uint32_t transfer_size);
// Sends DATA for the low 16 bits of block with length (0 to 512) bytes of data.
int send_tftp_data(NetSocket socket, std::uint8_t* buffer, const std::uint8_t* data,
                   std::uint32_t length, std::uint32_t block, const NetAddress& peer);
