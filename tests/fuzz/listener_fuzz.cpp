// Fuzz target: what the TFTP listener makes of one datagram while it waits for the device's
// read request of the announced file name.
#include <cstring>

#include "core/upgrade_state.h"
#include "fuzz_support.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_packets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The receive area holds 130 bytes; the socket cuts a longer datagram to them.
    std::size_t length = size < TFTP_RECEIVE_AREA_SIZE ? size : TFTP_RECEIVE_AREA_SIZE;
    std::unique_ptr<std::uint8_t[]> datagram(new std::uint8_t[length]);
    if (length > 0) std::memcpy(datagram.get(), data, length);
    fuzz_format_traces();
    std::strcpy(upgrade_state.tftp_file_name, "/tev1a2b.bi1");
    char file_name[TFTP_RECEIVE_AREA_SIZE];
    std::memset(file_name, 'x', sizeof file_name);

    DatagramVerdict verdict = judge_listener_datagram(datagram.get(), static_cast<long>(length), file_name);
    fuzz_require((verdict == DatagramVerdict::IDLE) == (length < 2), "only a runt counts as an empty poll");
    if (verdict != DatagramVerdict::ACCEPTED) return 0;
    fuzz_require(get_u16_be(datagram.get()) == TFTP_OPCODE_RRQ, "only a read request is accepted");
    fuzz_require(std::strcmp(file_name, upgrade_state.tftp_file_name) == 0,
                 "an accepted request names the announced file");
    std::size_t name_length = std::strlen(upgrade_state.tftp_file_name);
    fuzz_require(length >= name_length + 3 && datagram[2 + name_length] == 0 &&
                     std::memcmp(datagram.get() + 2, upgrade_state.tftp_file_name, name_length) == 0,
                 "the name ends with a NUL inside the datagram");
    return 0;
}
