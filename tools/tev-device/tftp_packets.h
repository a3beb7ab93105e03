// TFTP packets as the device's client writes and reads them (RFC 1350, options of RFC 2347/2349).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t TFTP_RRQ = 1;
constexpr std::uint16_t TFTP_DATA = 3;
constexpr std::uint16_t TFTP_ACK = 4;
constexpr std::uint16_t TFTP_ERROR = 5;
constexpr std::uint16_t TFTP_OACK = 6;
constexpr std::size_t TFTP_BLOCK_SIZE = 512;

using Packet = std::vector<std::uint8_t>;

// Read request for `file_name`, mode "octet", then, with_options, "tsize" "0" and "timeout" "5".
Packet tftp_rrq(const std::string& file_name, bool with_options);
Packet tftp_ack(std::uint16_t block);
Packet tftp_error(std::uint16_t code, const std::string& message);

std::uint16_t tftp_u16(const std::uint8_t* bytes);
// The option names and values of an OACK as "name=value name=value"; `tsize` gets the
// transfer size when the option is there, otherwise -1.
std::string tftp_oack_options(const std::uint8_t* packet, std::size_t length, long long* tsize);
// "code N \"message\"" of an ERROR packet.
std::string tftp_error_text(const std::uint8_t* packet, std::size_t length);
