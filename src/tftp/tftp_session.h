// A TFTP transfer session: the image served to one accepted read request in 512-byte blocks,
// in lock step, followed by the wait and the verification.
#pragma once
#include <cstdint>

#include "platform/net.h"

constexpr int TFTP_PACKET_SIZE = 1024;
constexpr int SESSION_FILE_NAME_SIZE = 128;
constexpr int IDLE_POLLS_PER_RETRY = 100;
constexpr int RETRY_LIMIT = 30;

struct TftpSession {
    char file_name[SESSION_FILE_NAME_SIZE];
    std::uint8_t packet[TFTP_PACKET_SIZE];
    std::uint32_t local_ip;
    std::uint32_t peer_ip;
    std::uint16_t local_port;
    std::uint16_t peer_port;
    NetSocket socket;
    std::uint32_t current_block;
    std::uint32_t transfer_size;
    std::uint32_t block_count;
    std::uint32_t bytes_acked;
    std::uint32_t last_block_size;
    std::uint32_t block_size;
};

// Serves the image the stage selects, then waits and verifies; returns 0. Ends the process when
// the session record cannot be allocated.
int start_tftp_session(NetSocket socket, std::uint32_t local_address, std::uint16_t local_port,
                       std::uint32_t peer_address, std::uint16_t peer_port, const char* file_name);
int run_tftp_session(TftpSession* session);

// Fills the session's sizes from the image to serve.
void size_tftp_session(TftpSession* session, std::uint32_t transfer_size);
// The transfer alone, behind the upload dialog; true when it failed (30 silent retry periods).
bool transfer_image(TftpSession* session, const std::uint8_t* image);
