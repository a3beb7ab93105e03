// The TFTP listener thread: waits for the device's read request, telling its events while it
// waits, and hands the accepted one to a transfer session on the same socket.
#include "tftp/tftp_listener.h"

#include <cstring>
#include <new>

#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/net_address.h"
#include "core/run_report.h"
#include "platform/threads.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_session.h"

namespace {

// An empty poll: wait about 1 ms for the socket, count, and tell the events (the dialogs move
// their bar). The count only shows that the program waits, so the wait may end late; a request
// ends it at once.
void idle_poll(const TftpListener* listener, int* idle_counter) {
    net_wait_readable(listener->socket, 1, WaitTimeout::COARSE);
    *idle_counter += 1;
    if (*idle_counter >= WAITING_PROGRESS_CYCLE) *idle_counter = 0;
    listener->events->waiting_poll(*idle_counter);
}

// Where an ignored datagram came from: a firewall or a second network shows here.
void trace_ignored_source(const NetAddress& source, long length) {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    read_sockaddr(source, &address, &port);
    trace("  (the ignored datagram: %ld bytes from %s:%u)\n", length, dotted(address).text, port);
}

// When none of the walk's ports can be bound (an ordinary user on Linux may bind none of 69 to
// 168; more upgrades at once than the range holds take them all), a port the system chooses
// serves as well: the device takes the port from the upgrade command. 0 when even that fails.
std::uint16_t bind_system_port(NetSocket socket, std::uint32_t local_ip, std::uint16_t first_port,
                               bool for_privilege) {
    NetAddress address;
    fill_sockaddr(local_ip, 0, &address);
    NetAddress bound{};
    if (!net_bind(socket, address) || !net_local_address(socket, &bound)) return 0;
    std::uint16_t port = net_ntohs(bound.port_be);
    trace("TFTP ports %u to %u %s; the system chose port %u\n", first_port,
          first_port + TFTP_BIND_ATTEMPTS - 1,
          for_privilege ? "need privileges this user lacks" : "could not be bound", port);
    return port;
}

void serve_request(TftpListener* listener, const NetAddress& source, const char* file_name,
                   bool names_options) {
    std::uint32_t peer_ip = 0;
    std::uint16_t peer_port = 0;
    read_sockaddr(source, &peer_ip, &peer_port);
    trace("TFTP read request for %s from %s:%u accepted\n", file_name, dotted(peer_ip).text,
          peer_port);
    listener->events->request_accepted();
    start_tftp_session(listener->socket, listener->local_ip, listener->port, peer_ip, peer_port,
                       file_name, !names_options, *listener->events);
}

}  // namespace

std::uint16_t bind_port_walk(NetSocket socket, std::uint32_t local_ip, std::uint16_t first_port,
                             int attempts, bool* for_privilege) {
    std::uint16_t port = first_port;
    bool privilege_only = attempts > 0;
    for (int failures = 0; failures < attempts; ++failures) {
        NetAddress address;
        fill_sockaddr(local_ip, port, &address);
        if (net_bind(socket, address)) return port;
        privilege_only = privilege_only && net_bind_needed_privilege();
        port = static_cast<std::uint16_t>(port + 1);
    }
    if (for_privilege != nullptr) *for_privilege = privilege_only;
    return 0;
}

std::uint16_t bind_listener_port(NetSocket socket, std::uint32_t local_ip,
                                 std::uint16_t first_port) {
    bool for_privilege = false;
    std::uint16_t port =
        bind_port_walk(socket, local_ip, first_port, TFTP_BIND_ATTEMPTS, &for_privilege);
    if (port == 0) port = bind_system_port(socket, local_ip, first_port, for_privilege);
    return port;
}

DatagramVerdict judge_listener_datagram(const std::uint8_t* datagram, long length,
                                        char* file_name) {
    if (length < 2) {
        if (length == 1) trace("TFTP datagram of 1 byte: too short for an opcode, ignored\n");
        return DatagramVerdict::IDLE;
    }
    switch (get_u16_be(datagram)) {
        case TFTP_OPCODE_RRQ: break;
        case TFTP_OPCODE_WRQ: trace("TFTP Rx WRQ?\n"); return DatagramVerdict::IGNORED;
        case TFTP_OPCODE_DATA: trace("TFTP Rx Data?\n"); return DatagramVerdict::IGNORED;
        case TFTP_OPCODE_ACK: trace("TFTP Rx ACK?\n"); return DatagramVerdict::IGNORED;
        case TFTP_OPCODE_ERROR: trace("TFTP Rx Error?\n"); return DatagramVerdict::IGNORED;
        default:
            trace("TFTP datagram with opcode %u: not a TFTP request, ignored\n",
                  static_cast<unsigned>(get_u16_be(datagram)));
            return DatagramVerdict::IGNORED;
    }
    // The name runs from offset 2 to its NUL; a name without a NUL in the datagram never matches.
    auto name_length = static_cast<std::size_t>(length - 2);
    const void* end = std::memchr(datagram + 2, 0, name_length);
    bool terminated = end != nullptr;
    if (terminated) name_length = static_cast<const std::uint8_t*>(end) - (datagram + 2);
    std::memcpy(file_name, datagram + 2, name_length);
    file_name[name_length] = 0;
    trace("%s %s\n", upgrade_state.tftp_file_name, file_name);
    if (!terminated || std::strcmp(file_name, upgrade_state.tftp_file_name) != 0) {
        trace("+++ Bad TFTP RRQ filename %s\n", file_name);
        return DatagramVerdict::IGNORED;
    }
    return DatagramVerdict::ACCEPTED;
}

std::uint32_t start_tftp_listener(std::uint32_t local_address, TftpEvents& events) {
    auto* listener = new (std::nothrow) TftpListener{};
    if (listener == nullptr) {
        events.fail("Upgrade Failed: Can't malloc for TFTP listener");
        return 0;
    }
    listener->events = &events;
    listener->socket = net_udp_socket();
    const char* failure = nullptr;
    std::uint16_t port = 0;
    if (listener->socket == NET_INVALID_SOCKET) {
        failure = "Upgrade Failed: Can't create TFTP listener socket";
    } else {
        port = bind_listener_port(listener->socket, local_address, TFTP_FIRST_PORT);
        if (port == 0) failure = "Upgrade Failed: Can't bind TFTP listener socket";
    }
    if (failure == nullptr) {
        listener->local_ip = local_address;
        listener->port = port;
        trace("TFTP listener on %s:%u\n", dotted(local_address).text, port);
        if (thread_start_detached(tftp_listener_thread, listener)) return port;
        failure = "Upgrade Failed: Can't create TFTP listener thread";
    }
    events.fail(failure);
    if (listener->socket != NET_INVALID_SOCKET) net_close(listener->socket);
    delete listener;
    return 0;
}

std::int32_t tftp_listener_thread(void* argument) {
    auto* listener = static_cast<TftpListener*>(argument);
    trace_name_thread("listener");
    listener->events->waiting(true);
    net_set_nonblocking(listener->socket);
    int idle_counter = 0;
    char file_name[TFTP_RECEIVE_AREA_SIZE];
    for (;;) {
        NetAddress source{};
        long received = net_recv_from(listener->socket, listener->receive_area,
                                      TFTP_RECEIVE_AREA_SIZE, &source);
        DatagramVerdict verdict = judge_listener_datagram(
            listener->receive_area, received > 0 ? received : 0, file_name);
        if (verdict == DatagramVerdict::IDLE) {
            idle_poll(listener, &idle_counter);
            continue;
        }
        // The request may come from any address: a device with several interfaces asks from the one
        // that faces this computer. The verification after the flash asks the typed address.
        if (verdict == DatagramVerdict::IGNORED) {
            trace_ignored_source(source, received);
            continue;
        }
        serve_request(listener, source, file_name,
                      request_names_options(listener->receive_area, received));
        if (upgrade_state.stage.load() != STAGE_TRANSITION) {
            net_close(listener->socket);
            run_end();
        }
        // The transition image is in: wait on the same port for the target image's request.
        upgrade_state.stage.store(STAGE_TARGET);
        idle_counter = 0;
        listener->events->waiting(false);
    }
}
