// The device's TFTP client: fetches the image the upgrade command names, from one UDP port of its
// own, in lock step, with the packet faults the options ask for.
#pragma once
#include <cstdint>
#include <vector>

#include "device_state.h"
#include "upgrade_command.h"

constexpr std::size_t MAX_IMAGE_SIZE = 64u << 20;

struct TftpTransfer {
    int fd = -1;        // the client's own port, that of the read request
    int other_fd = -1;  // a second port, for ACKs sent from elsewhere as a fault
    std::uint16_t local_port = 0;
    std::uint16_t other_port = 0;
    std::uint32_t server_address = 0;
    std::uint16_t server_port = 0;  // where the read request went
    std::uint16_t server_tid = 0;   // the port the server answers from
    bool tid_known = false;
    std::uint32_t next_block = 1;   // counts past 65535; the wire carries its low 16 bits
    bool acked_oack = false;
    bool plain_request = false;     // the read request named no options (RFC 1350 alone)
    bool has_last_ack = false;      // what a time-out sends again: the last ACK, or the request
    std::uint16_t last_ack = 0;
    bool has_held_ack = false;      // an ACK held back, to go out behind that of a later block
    std::uint16_t held_ack = 0;
    std::vector<std::uint8_t> image;
    long long tsize = -1;
};

// Runs the transfer to its end; true when the last block has arrived and been acknowledged.
// The socket stays open for tftp_linger.
bool tftp_fetch(DeviceState* device, const UpgradeOrder& order, TftpTransfer* transfer);
// For `ms` milliseconds, acknowledges the final block again whenever the server repeats it
// (its copy of our last ACK was lost), as a client that dallies before it goes quiet.
void tftp_linger(DeviceState* device, TftpTransfer* transfer, std::int64_t ms);
void tftp_close(TftpTransfer* transfer);
