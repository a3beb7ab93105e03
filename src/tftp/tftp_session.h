// A TFTP transfer session: the image served to one accepted read request in 512-byte blocks,
// in lock step; what follows the transfer is up to the events' receiver.
#pragma once
#include <cstdint>

#include "platform/net.h"
#include "tftp/tftp_events.h"

constexpr int TFTP_PACKET_SIZE = 1024;
constexpr int SESSION_FILE_NAME_SIZE = 128;
// A packet is sent at most RETRY_LIMIT times. The silence that ends each period before a resend
// grows from FIRST_RETRY_MS to LONGEST_RETRY_MS, so a lost packet costs about 100 ms while a
// device that pauses (erasing its flash, say) is given over 25 s, five times the time-out the
// OACK announces, before the transfer is given up.
constexpr int RETRY_LIMIT = 30;
constexpr std::uint32_t FIRST_RETRY_MS = 100;
constexpr std::uint32_t LONGEST_RETRY_MS = 1000;

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
    bool without_options;  // the read request named no options: no OACK, DATA 1 goes first
};

// Serves the image the stage selects and reports the end to events (which waits and verifies);
// returns 0. Calls events.fail when the session record cannot be allocated. A request without
// options (without_options) gets no OACK, which it would not understand.
int start_tftp_session(NetSocket socket, std::uint32_t local_address, std::uint16_t local_port,
                       std::uint32_t peer_address, std::uint16_t peer_port, const char* file_name,
                       bool without_options, TftpEvents& events);
int run_tftp_session(TftpSession* session, TftpEvents& events);

// Milliseconds of silence after which a packet already sent `retries` + 1 times is sent again
// (or, after the last send, the transfer is given up); doubles from FIRST_RETRY_MS up to
// LONGEST_RETRY_MS.
std::uint32_t retry_period_ms(int retries);
// The silence the session waits out in all before it gives up on one packet.
std::uint32_t give_up_after_ms();

// Whether the session receives once, without waiting, before it waits for the answer to a send.
// Where the answer is mostly there by the time the send returns (a device on the same machine,
// and under Wine, where every socket call is a trip to another process), that receive saves the
// wait; on a network the answer never is, and an empty receive is a call for nothing. So the
// session looks first while the looks find the answer; after a look that finds nothing it passes
// over 1, 2, 4 ... up to LOOK_FIRST_MOST_PASSED sends before it looks again.
constexpr std::uint32_t LOOK_FIRST_MOST_PASSED = 64;
struct LookFirst {
    std::uint32_t passed_after_miss;  // sends passed over after the last empty look; 0 after a find
    std::uint32_t to_pass;            // sends still to pass over before the next look
};
// Called once per send: true when the receive goes before the wait this time.
bool look_first(LookFirst* look);
// Whether that receive found the awaited acknowledgement (anything else it drained is no find).
void looked_first(LookFirst* look, bool found);

enum class TransferOutcome {
    COMPLETE,          // every block acknowledged
    LAST_ACK_MISSING,  // every block sent, only the acknowledgement of the last one never came
    FAILED,            // a packet before the last block was never acknowledged
};

// Fills the session's sizes from the image to serve.
void size_tftp_session(TftpSession* session, std::uint32_t transfer_size);
// The transfer alone, told to events as it goes. It opens with the OACK, or with DATA 1 when the
// session is without_options. Silent periods are measured on clock_ms().
TransferOutcome transfer_image(TftpSession* session, const std::uint8_t* image,
                               TftpEvents& events);
// Whether the outcome counts as an incomplete upload: a lost last acknowledgement does not when
// the version check after the flash will tell (not for the handset model, which is not checked).
bool upload_incomplete(TransferOutcome outcome, bool is_phone_model);
