// TFTP read transfer from the client's side (RFC 1350 with RFC 2347 option acknowledgement).
#include "tftp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstring>

#include "device_log.h"
#include "tftp_packets.h"

namespace {

enum class Step { GO_ON, PROGRESS, DONE, FAILED };

int open_udp(std::uint32_t address, std::uint16_t* port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    socklen_t length = sizeof local;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(local.sin_port);
    return fd;
}

void send_to(int fd, const Packet& packet, std::uint32_t address, std::uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer) < 0) {
        log_event("tftp: send failed: %s", std::strerror(errno));
    }
}

void send_to_server(TftpTransfer* t, int fd, const Packet& packet) {
    send_to(fd, packet, t->server_address, t->tid_known ? t->server_tid : t->server_port);
}

void send_request(TftpTransfer* t, const std::string& file_name) {
    send_to_server(t, t->fd, tftp_rrq(file_name, !t->plain_request));
}

// Sends ACK `block`, or what a fault puts in its place.
void send_ack(DeviceState* device, TftpTransfer* t, std::uint16_t block) {
    const DeviceOptions& o = device->options;
    t->has_last_ack = true;
    t->last_ack = block;
    if (dice_hits(&device->dice, o.error_instead_of_ack)) {
        send_to_server(t, t->fd, tftp_error(0, "simulated fault instead of ACK " + std::to_string(block)));
        log_event("tftp fault: ERROR sent instead of ACK %u", block);
        return;
    }
    if (dice_hits(&device->dice, o.drop_ack)) {
        log_event("tftp fault: ACK %u dropped", block);
        return;
    }
    int fd = t->fd;
    if (dice_hits(&device->dice, o.ack_other_port)) {
        if (t->other_fd < 0) t->other_fd = open_udp(tftp_client_address(o), &t->other_port);
        if (t->other_fd >= 0) {
            log_event("tftp fault: ACK %u sent from other port %u", block, t->other_port);
            fd = t->other_fd;
        }
    }
    if (!t->has_held_ack && dice_hits(&device->dice, o.late_ack)) {
        t->has_held_ack = true;
        t->held_ack = block;
        log_event("tftp fault: ACK %u held back", block);
        return;
    }
    send_to_server(t, fd, tftp_ack(block));
    log_detail("tftp: ACK %u sent", block);
    if (dice_hits(&device->dice, o.duplicate_ack)) {
        send_to_server(t, fd, tftp_ack(block));
        log_event("tftp fault: ACK %u sent twice", block);
    }
    // Released after an ACK of another block, so it arrives stale, behind a newer one.
    if (t->has_held_ack && t->held_ack != block) {
        t->has_held_ack = false;
        send_to_server(t, fd, tftp_ack(t->held_ack));
        log_event("tftp fault: held ACK %u sent late, after ACK %u", t->held_ack, block);
    }
}

// Silent for a while, as a device erasing a flash sector: what the server sends meanwhile
// waits in the socket.
void pause_after(DeviceState* device, std::uint32_t block) {
    std::int64_t ms = device->options.pause_ms;
    log_event("tftp fault: silent for %lld ms after block %u", static_cast<long long>(ms), block);
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
    log_event("tftp: pause after block %u over", block);
}

Step on_oack(DeviceState* device, TftpTransfer* t, const std::uint8_t* packet, std::size_t length) {
    if (t->next_block != 1) {
        log_event("tftp: late OACK ignored");
        return Step::GO_ON;
    }
    // A client that asked for no options knows no OACK (RFC 2347 allows one only in answer to
    // options): it waits for DATA 1 and sends its request again after a time-out.
    if (t->plain_request) {
        log_event("tftp: OACK to a read request without options: not understood, ignored");
        return Step::GO_ON;
    }
    std::string options = tftp_oack_options(packet, length, &t->tsize);
    if (device->options.never_ack_oack) {
        log_event("tftp fault: OACK (%s) not acknowledged", options.c_str());
        t->has_last_ack = false;
        return Step::GO_ON;
    }
    if (t->tsize > static_cast<long long>(MAX_IMAGE_SIZE)) {
        log_event("tftp: OACK announces %lld bytes, more than the flash holds", t->tsize);
        send_to_server(t, t->fd, tftp_error(3, "Image too large"));
        return Step::FAILED;
    }
    bool again = t->acked_oack;
    t->acked_oack = true;
    log_event("tftp: %sOACK %s", again ? "repeated " : "", options.c_str());
    send_ack(device, t, 0);
    return again ? Step::GO_ON : Step::PROGRESS;
}

// A block counter that jumps: the block just taken is acknowledged as one ACK_AHEAD_BLOCKS further
// on, the blocks between are never asked for, and any other block is answered with that ACK again.
// A server that takes such an acknowledgement moves on, and the image ends up with a hole.
bool jumped_ahead(const DeviceOptions& o, const TftpTransfer* t) {
    return o.ack_ahead_block != 0 && t->next_block > o.ack_ahead_block;
}

Step ack_ahead(DeviceState* device, TftpTransfer* t) {
    std::uint32_t claimed = t->next_block + ACK_AHEAD_BLOCKS;
    log_event("tftp fault: DATA %u answered with ACK %u; waiting for DATA %u", t->next_block,
              claimed & 0xFFFFu, (claimed + 1) & 0xFFFFu);
    send_ack(device, t, static_cast<std::uint16_t>(claimed));
    t->next_block = claimed + 1;
    return Step::PROGRESS;
}

Step on_data(DeviceState* device, TftpTransfer* t, const std::uint8_t* packet, std::size_t length) {
    std::uint16_t block = tftp_u16(packet + 2);
    std::size_t payload = length - 4;
    if (dice_hits(&device->dice, device->options.drop_data)) {
        log_event("tftp fault: DATA %u dropped", block);
        return Step::GO_ON;
    }
    std::uint16_t expected = static_cast<std::uint16_t>(t->next_block);
    if (block != expected) {
        if (t->next_block > 1 && block == static_cast<std::uint16_t>(expected - 1)) {
            log_event("tftp: duplicate DATA %u, ACK again", block);
            send_ack(device, t, block);
        } else if (jumped_ahead(device->options, t)) {
            log_event("tftp fault: DATA %u not the one awaited, ACK %u again", block, t->last_ack);
            send_ack(device, t, t->last_ack);
        } else {
            log_event("tftp: DATA %u ignored, waiting for %u", block, expected);
        }
        return Step::GO_ON;
    }
    if (payload > TFTP_BLOCK_SIZE || t->image.size() + payload > MAX_IMAGE_SIZE) {
        log_event("tftp: DATA %u of %zu bytes refused", block, payload);
        send_to_server(t, t->fd, tftp_error(payload > TFTP_BLOCK_SIZE ? 4 : 3, "Image refused"));
        return Step::FAILED;
    }
    t->image.insert(t->image.end(), packet + 4, packet + length);
    log_detail("tftp: DATA %u (%zu bytes)", block, payload);
    bool last = payload < TFTP_BLOCK_SIZE;
    if (!last && t->next_block == device->options.ack_ahead_block) return ack_ahead(device, t);
    if (last && device->options.drop_last_ack) {
        t->has_last_ack = true;
        t->last_ack = block;
        log_event("tftp fault: last ACK %u dropped", block);
    } else {
        send_ack(device, t, block);
    }
    if (t->next_block == device->options.pause_after_block) pause_after(device, t->next_block);
    if (device->transfers == 1 && t->next_block == device->options.quit_first_transfer_after) {
        log_event("tftp fault: silent after block %u of the first transfer", t->next_block);
        return Step::FAILED;
    }
    ++t->next_block;
    return last ? Step::DONE : Step::PROGRESS;
}

// Checks where a packet came from; the first answer fixes the server's port (its transfer id).
bool from_server(TftpTransfer* t, const sockaddr_in& source) {
    std::uint32_t address = ntohl(source.sin_addr.s_addr);
    std::uint16_t port = ntohs(source.sin_port);
    if (address != t->server_address) {
        log_event("tftp: packet from foreign %s:%u ignored", ipv4_text(address).c_str(), port);
        return false;
    }
    if (!t->tid_known) {
        t->tid_known = true;
        t->server_tid = port;
        log_event("tftp: server answers from port %u", port);
    } else if (port != t->server_tid) {
        log_event("tftp: packet from port %u ignored, the server is at %u", port, t->server_tid);
        return false;
    }
    return true;
}

Step on_packet(DeviceState* device, TftpTransfer* t, const std::uint8_t* packet, std::size_t length) {
    if (length < 4) {
        log_event("tftp: short packet of %zu bytes ignored", length);
        return Step::GO_ON;
    }
    std::uint16_t opcode = tftp_u16(packet);
    if (opcode == TFTP_OACK) return on_oack(device, t, packet, length);
    if (opcode == TFTP_DATA) return on_data(device, t, packet, length);
    if (opcode == TFTP_ERROR) {
        log_event("tftp: ERROR from server, %s", tftp_error_text(packet, length).c_str());
        return Step::FAILED;
    }
    log_event("tftp: opcode %u ignored", opcode);
    return Step::GO_ON;
}

// Waits up to `ms` for a packet; its length, or -1 on silence.
long receive(int fd, std::uint8_t* buffer, std::size_t size, std::int64_t ms, sockaddr_in* source) {
    std::int64_t deadline = elapsed_ms() + ms;
    while (true) {
        std::int64_t left = deadline - elapsed_ms();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return -1;
        socklen_t length = sizeof *source;
        long got = recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr*>(source), &length);
        if (got >= 0) return got;
    }
}

void resend_after_timeout(DeviceState* device, TftpTransfer* t, const UpgradeOrder& order, int retry) {
    if (t->has_last_ack) {
        log_event("tftp: time-out, ACK %u again (retry %d)", t->last_ack, retry);
        send_ack(device, t, t->last_ack);
    } else if (!t->tid_known) {
        log_event("tftp: time-out, read request again (retry %d)", retry);
        send_request(t, order.file_name);
    } else {
        log_event("tftp: time-out, nothing to send again (retry %d)", retry);
    }
}

}  // namespace

bool tftp_fetch(DeviceState* device, const UpgradeOrder& order, TftpTransfer* t) {
    const DeviceOptions& o = device->options;
    t->server_address = order.server_address;
    t->server_port = order.server_port;
    t->plain_request = o.tftp_no_options;
    t->fd = open_udp(tftp_client_address(o), &t->local_port);
    if (t->fd < 0) {
        log_event("tftp: cannot open a UDP port on %s: %s", ipv4_text(tftp_client_address(o)).c_str(),
                  std::strerror(errno));
        return false;
    }
    std::int64_t start = elapsed_ms();
    ++device->transfers;
    send_request(t, order.file_name);
    log_event("tftp: RRQ \"%s\" octet%s to %s:%u from port %u", order.file_name.c_str(),
              t->plain_request ? " (no options)" : " tsize=0 timeout=5", ipv4_text(order.server_address).c_str(),
              order.server_port, t->local_port);
    if (tftp_client_address(o) != o.address) {
        log_event("tftp: the transfer runs from %s, not the web server's %s", ipv4_text(tftp_client_address(o)).c_str(),
                  ipv4_text(o.address).c_str());
    }
    std::uint8_t buffer[2048];
    int retries = 0;
    while (true) {
        sockaddr_in source{};
        long length = receive(t->fd, buffer, sizeof buffer, o.tftp_timeout_ms, &source);
        if (length < 0) {
            if (retries >= o.tftp_retries) {
                log_event("tftp: failed, no answer after %d retries", retries);
                return false;
            }
            resend_after_timeout(device, t, order, ++retries);
            continue;
        }
        if (!from_server(t, source)) continue;
        Step step = on_packet(device, t, buffer, static_cast<std::size_t>(length));
        if (step == Step::FAILED) {
            log_event("tftp: failed after %zu bytes", t->image.size());
            return false;
        }
        if (step == Step::PROGRESS) retries = 0;
        if (step == Step::DONE) break;
    }
    std::int64_t took = elapsed_ms() - start;
    log_event("tftp: complete, %zu bytes in %u blocks, %lld.%03lld s", t->image.size(), t->next_block - 1,
              static_cast<long long>(took / 1000), static_cast<long long>(took % 1000));
    if (t->tsize >= 0 && static_cast<std::size_t>(t->tsize) != t->image.size()) {
        log_event("tftp: received %zu bytes, the server announced %lld", t->image.size(), t->tsize);
    }
    return true;
}

void tftp_linger(DeviceState* device, TftpTransfer* t, std::int64_t ms) {
    if (t->fd < 0) return;
    std::int64_t deadline = elapsed_ms() + ms;
    std::uint8_t buffer[2048];
    std::uint16_t last_block = static_cast<std::uint16_t>(t->next_block - 1);
    while (true) {
        std::int64_t left = deadline - elapsed_ms();
        sockaddr_in source{};
        long length = left > 0 ? receive(t->fd, buffer, sizeof buffer, left, &source) : -1;
        if (length < 0) return;
        if (!from_server(t, source) || length < 4) continue;
        if (tftp_u16(buffer) == TFTP_DATA && tftp_u16(buffer + 2) == last_block) {
            if (dice_hits(&device->dice, device->options.drop_data)) {
                log_event("tftp fault: DATA %u dropped", last_block);
                continue;
            }
            if (device->options.ignore_repeated_last_block) {
                log_event("tftp fault: repeated DATA %u after the end not acknowledged", last_block);
                continue;
            }
            log_event("tftp: duplicate DATA %u after the end, ACK again", last_block);
            send_ack(device, t, last_block);
        } else {
            log_event("tftp: opcode %u after the end ignored", tftp_u16(buffer));
        }
    }
}

void tftp_close(TftpTransfer* t) {
    if (t->fd >= 0) close(t->fd);
    if (t->other_fd >= 0) close(t->other_fd);
    t->fd = t->other_fd = -1;
}
