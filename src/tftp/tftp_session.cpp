// The transfer: OACK, then DATA blocks each after the acknowledgement of the one before, with a
// retransmission after each silent period and failure after 30 of them.
#include "tftp/tftp_session.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net_address.h"
#include "tftp/tftp_events.h"
#include "tftp/tftp_packets.h"

namespace {

const FirmwareImage& image_for_stage() {
    return upgrade_state.stage.load() != STAGE_TRANSITION ? upgrade_state.target_image
                                                          : upgrade_state.transition_image;
}

const char* stage_label() {
    return upgrade_state.stage.load() != STAGE_TRANSITION ? "Target" : "Transition";
}

// Anything from the peer but an acknowledgement is ignored; the log says what it was. An ERROR's
// message is cut at its NUL or the datagram's end.
void trace_other_from_peer(const TftpSession* session, std::uint32_t opcode, long length) {
    if (length < TFTP_HEADER_SIZE) {
        trace("TFTP datagram of %ld bytes from the device: too short, ignored\n", length);
    } else if (opcode == TFTP_OPCODE_ERROR) {
        const auto* message = reinterpret_cast<const char*>(session->packet + TFTP_HEADER_SIZE);
        auto room = static_cast<std::size_t>(length - TFTP_HEADER_SIZE);
        const void* end = std::memchr(message, 0, room);
        if (end != nullptr) {
            room = static_cast<std::size_t>(static_cast<const char*>(end) - message);
        }
        trace("TFTP ERROR from the device, code %u: \"%.*s\"; ignored\n",
              static_cast<unsigned>(get_u16_be(session->packet + 2)), static_cast<int>(room),
              message);
    } else {
        trace("TFTP datagram with opcode %u from the device: ignored\n",
              static_cast<unsigned>(opcode));
    }
}

// Receives one datagram; the opcode when it came from the peer, 0 for nothing or a stranger.
// *arrived tells whether any datagram came.
std::uint32_t receive_from_peer(TftpSession* session, bool* arrived) {
    NetAddress source{};
    long length = net_recv_from(session->socket, session->packet, TFTP_PACKET_SIZE, &source);
    *arrived = length > 0;
    if (length <= 0) return 0;
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    read_sockaddr(source, &address, &port);
    if (address != session->peer_ip || port != session->peer_port) {
        trace("Unknown source request in session: %x:%u", address, port);
        return 0;
    }
    // A runt from the peer carries no opcode and block number: an idle poll.
    std::uint32_t opcode = length >= TFTP_HEADER_SIZE ? get_u16_be(session->packet) : 0;
    if (opcode != TFTP_OPCODE_ACK) trace_other_from_peer(session, opcode, length);
    return opcode;
}

struct TransferCursor {
    const std::uint8_t* image;
    const std::uint8_t* image_offset;
    NetAddress peer;
    TftpEvents* events;
};

void send_current_block(TftpSession* session, const TransferCursor& cursor) {
    send_tftp_data(session->socket, session->packet, cursor.image_offset, session->block_size,
                   session->current_block, cursor.peer);
}

// A matching acknowledgement: true when every block has been acknowledged.
bool advance(TftpSession* session, TransferCursor* cursor) {
    session->current_block += 1;
    session->bytes_acked += session->block_size;
    cursor->events->block_acknowledged(*session);
    if (session->current_block > session->block_count) {
        trace("All blocks ack'd\n");
        return true;
    }
    session->block_size = session->current_block == session->block_count ? session->last_block_size
                                                                         : TFTP_BLOCK_SIZE;
    cursor->image_offset =
        session->current_block == 1 ? cursor->image : cursor->image_offset + TFTP_BLOCK_SIZE;
    send_current_block(session, *cursor);
    trace("Send block %d (%d)\n", static_cast<int>(session->current_block),
          static_cast<int>(session->block_size));
    return false;
}

void retransmit(TftpSession* session, const TransferCursor& cursor) {
    if (session->current_block == 0) {
        trace("ReSend option ack\n");
        send_tftp_oack(session->socket, session->packet, cursor.peer, session->transfer_size);
    } else {
        trace("ReSend block %d\n", static_cast<int>(session->current_block));
        send_current_block(session, cursor);
    }
}

// The first packet: the OACK (tsize and timeout 5) to a request that named options; to one that
// named none, which knows no OACK (RFC 1350), DATA 1 at once, as if the OACK had been
// acknowledged. Lock step, retransmission and give-up are the same from here on.
void open_transfer(TftpSession* session, TransferCursor* cursor) {
    if (!session->without_options) {
        trace("Read request with options: OACK with tsize %lu and timeout 5 first\n",
              static_cast<unsigned long>(session->transfer_size));
        send_tftp_oack(session->socket, session->packet, cursor->peer, session->transfer_size);
        return;
    }
    trace("Read request without options: no OACK, DATA 1 first\n");
    advance(session, cursor);
}

// The silence since the packet outstanding was last sent, measured on the clock: neither
// datagrams that do not count (duplicates, strangers, runts) nor a wait that ends early can
// shorten it.
struct RetryTimer {
    int retries;              // silent periods since the last matching acknowledgement
    std::uint32_t sent_at;    // clock_ms() of the last send
};

void restart_period(RetryTimer* timer) { timer->sent_at = clock_ms(); }

void reset_retries(RetryTimer* timer) {
    timer->retries = 0;
    restart_period(timer);
}

bool period_over(const RetryTimer& timer) {
    return clock_ms() - timer.sent_at >= retry_period_ms(timer.retries);
}

// The one blocking call between a send and the device's answer. It ends at whichever comes first:
// a datagram, input for the dialogs (Cancel answers at once), the end of the silent period, or
// the moment the events want a poll (a count held back to show).
WaitEnd wait_for_answer(const TftpSession* session, const RetryTimer& timer, TftpEvents& events) {
    std::uint32_t silent = clock_ms() - timer.sent_at;
    std::uint32_t period = retry_period_ms(timer.retries);
    std::uint32_t left = silent < period ? period - silent : 0;
    left = std::min(left, events.transfer_poll_due_ms());
    return net_wait_datagram(session->socket, clock_real_wait_ms(left));
}

enum class Received { EMPTY, ACKNOWLEDGED, COMPLETE };

// Receives without blocking until the socket is empty or the packet outstanding is acknowledged;
// then the next packet goes out at once. Any other datagram (a duplicate acknowledgement, a
// stranger's, a runt, an ERROR) is dropped without a wait, so that a flood of them is drained as
// fast as it comes and the device's answer behind it is not lost. The silence goes on all the
// same: only the clock ends a period.
Received receive_until_empty(TftpSession* session, TransferCursor* cursor, RetryTimer* timer) {
    for (;;) {
        bool arrived = false;
        std::uint32_t opcode = receive_from_peer(session, &arrived);
        if (!arrived) return Received::EMPTY;
        if (opcode != TFTP_OPCODE_ACK) continue;
        std::uint16_t acknowledged = get_u16_be(session->packet + 2);
        if (acknowledged == (session->current_block & 0xFFFFu)) {
            // The clock is read before the next packet goes: the device may answer, and the
            // clock move on, before the call after the send would read it.
            reset_retries(timer);
            return advance(session, cursor) ? Received::COMPLETE : Received::ACKNOWLEDGED;
        }
        trace("ACK %u ignored: waiting for ACK %u\n", acknowledged,
              static_cast<unsigned>(session->current_block & 0xFFFFu));
    }
}

// After a send: a receive first when the looks find answers waiting, so that the wait is made
// only for an answer still to come.
Received look_before_waiting(TftpSession* session, TransferCursor* cursor, RetryTimer* timer,
                             LookFirst* look) {
    if (!look_first(look)) return Received::EMPTY;
    Received received = receive_until_empty(session, cursor, timer);
    looked_first(look, received != Received::EMPTY);
    return received;
}

// The last silent period: with every block sent, only the final acknowledgement is missing, and
// a device that does not linger may already be writing the whole image to its flash.
TransferOutcome give_up(const TftpSession* session) {
    if (session->current_block != 0 && session->current_block == session->block_count) {
        trace("Timeout for last ack; all blocks sent\n");
        return TransferOutcome::LAST_ACK_MISSING;
    }
    trace("Timeout for ack; upgrade failed\n");
    return TransferOutcome::FAILED;
}

}  // namespace

std::uint32_t retry_period_ms(int retries) {
    std::uint32_t period = FIRST_RETRY_MS;
    for (int i = 0; i < retries && period < LONGEST_RETRY_MS; ++i) period *= 2;
    return std::min(period, LONGEST_RETRY_MS);
}

std::uint32_t give_up_after_ms() {
    std::uint32_t total = 0;
    for (int retries = 0; retries < RETRY_LIMIT; ++retries) total += retry_period_ms(retries);
    return total;
}

bool look_first(LookFirst* look) {
    if (look->to_pass == 0) return true;
    --look->to_pass;
    return false;
}

void looked_first(LookFirst* look, bool found) {
    std::uint32_t doubled = std::max<std::uint32_t>(1, look->passed_after_miss * 2);
    look->passed_after_miss = found ? 0 : std::min(doubled, LOOK_FIRST_MOST_PASSED);
    look->to_pass = look->passed_after_miss;
}

bool upload_incomplete(TransferOutcome outcome, bool is_phone_model) {
    if (outcome == TransferOutcome::LAST_ACK_MISSING) return is_phone_model;
    return outcome == TransferOutcome::FAILED;
}

void size_tftp_session(TftpSession* session, std::uint32_t transfer_size) {
    session->transfer_size = transfer_size;
    session->block_count = transfer_size / TFTP_BLOCK_SIZE + 1;
    session->last_block_size = transfer_size - (transfer_size / TFTP_BLOCK_SIZE) * TFTP_BLOCK_SIZE;
}

TransferOutcome transfer_image(TftpSession* session, const std::uint8_t* image,
                               TftpEvents& events) {
    events.transfer_started(*session);
    net_set_nonblocking(session->socket);
    TransferCursor cursor{image, image, {}, &events};
    fill_sockaddr(session->peer_ip, session->peer_port, &cursor.peer);
    open_transfer(session, &cursor);
    RetryTimer timer{};
    reset_retries(&timer);
    LookFirst look{};
    bool sent = true;
    for (;;) {
        Received received = Received::EMPTY;
        WaitEnd end = WaitEnd::DATAGRAM;  // what ended the wait, when there was one
        if (sent) received = look_before_waiting(session, &cursor, &timer, &look);
        sent = false;
        if (received == Received::EMPTY) {
            end = wait_for_answer(session, timer, events);
            if (end == WaitEnd::DATAGRAM) received = receive_until_empty(session, &cursor, &timer);
        }
        if (received == Received::COMPLETE) return TransferOutcome::COMPLETE;
        sent = received == Received::ACKNOWLEDGED;
        if (sent) continue;
        // Input, the end of a wait, or a socket drained without the awaited acknowledgement:
        // the dialogs' turn, then the clock's. Input never ends a silent period.
        events.transfer_poll();
        if (!period_over(timer)) continue;
        if (++timer.retries >= RETRY_LIMIT) return give_up(session);
        restart_period(&timer);
        retransmit(session, cursor);
        sent = true;
    }
}

int run_tftp_session(TftpSession* session, TftpEvents& events) {
    const FirmwareImage& image = image_for_stage();
    TransferOutcome outcome = transfer_image(session, image.data, events);
    events.transfer_ended(*session, outcome);
    return 0;
}

int start_tftp_session(NetSocket socket, std::uint32_t local_address, std::uint16_t local_port,
                       std::uint32_t peer_address, std::uint16_t peer_port, const char* file_name,
                       bool without_options, TftpEvents& events) {
    auto* session = new (std::nothrow) TftpSession{};
    if (session == nullptr) {
        events.fail("Upgrade Failed: Can't malloc for TFTP session");
        return 0;
    }
    session->socket = socket;
    session->local_ip = local_address;
    session->local_port = local_port;
    session->peer_ip = peer_address;
    session->peer_port = peer_port;
    session->without_options = without_options;
    std::strncpy(session->file_name, file_name, SESSION_FILE_NAME_SIZE - 1);
    size_tftp_session(session, image_for_stage().size);
    trace("++++size %d, %d, %d\n", static_cast<int>(session->transfer_size),
          static_cast<int>(session->last_block_size), static_cast<int>(session->block_count));
    trace("%s firmware transfer to %s:%u: %lu bytes in %lu blocks, the last of %lu bytes\n",
          stage_label(), dotted(peer_address).text, peer_port,
          static_cast<unsigned long>(session->transfer_size),
          static_cast<unsigned long>(session->block_count),
          static_cast<unsigned long>(session->last_block_size));
    run_tftp_session(session, events);
    delete session;
    return 0;
}
