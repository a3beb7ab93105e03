// The scripted network behind net.h for the fuzz targets. Nothing here touches a real socket, so
// the targets run fast, deterministically, and without a network namespace.
#include "scripted_net.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr NetSocket UDP_SOCKET = 3;
constexpr NetSocket TCP_SOCKET = 4;

ScriptedNet net;

}  // namespace

ScriptedNet& scripted_net() { return net; }

void scripted_net_reset() { net = ScriptedNet{}; }

NetAddress scripted_address(std::uint32_t address, std::uint16_t port) {
    NetAddress out{};
    out.family = NET_AF_INET;
    out.port_be = htons(port);
    out.address_be = htonl(address);
    return out;
}

bool net_start() { return true; }

void net_host_name(char* name, std::size_t size) {
    if (size > 0) std::snprintf(name, size, "fuzz");
}

int net_own_addresses(const char*, std::uint32_t*, int) { return 0; }

std::uint32_t net_htonl(std::uint32_t value) { return htonl(value); }
std::uint32_t net_ntohl(std::uint32_t value) { return ntohl(value); }
std::uint16_t net_htons(std::uint16_t value) { return htons(value); }
std::uint16_t net_ntohs(std::uint16_t value) { return ntohs(value); }

NetSocket net_tcp_socket() { return TCP_SOCKET; }
NetSocket net_udp_socket() { return UDP_SOCKET; }

bool net_bind(NetSocket, const NetAddress&) { return true; }

bool net_bind_needed_privilege() { return false; }

bool net_connect(NetSocket, const NetAddress&) {
    if (net.refuse_connections) return false;
    ++net.connections;
    return true;
}

bool net_connect_within(NetSocket socket, const NetAddress& address, int) {
    return net_connect(socket, address);
}

const char* net_last_error_text() { return "Connection refused"; }

long net_send(NetSocket, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    net.stream_sent.insert(net.stream_sent.end(), bytes, bytes + length);
    return static_cast<long>(length);
}

bool net_send_all(NetSocket socket, const void* data, std::size_t length) {
    return net_send(socket, data, length) == static_cast<long>(length);
}

long net_recv(NetSocket, void* buffer, std::size_t size) {
    if (net.stream_pieces.empty()) return 0;
    std::vector<std::uint8_t>& piece = net.stream_pieces.front();
    std::size_t count = std::min(size, piece.size());
    std::memcpy(buffer, piece.data(), count);
    piece.erase(piece.begin(), piece.begin() + static_cast<long>(count));
    if (piece.empty()) net.stream_pieces.pop_front();
    return static_cast<long>(count);
}

long net_send_to(NetSocket, const void* data, std::size_t length, const NetAddress& to) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    ScriptedDatagram datagram{to, std::vector<std::uint8_t>(bytes, bytes + length)};
    if (net.on_send) net.on_send(datagram);
    net.sent.push_back(std::move(datagram));
    return static_cast<long>(length);
}

// As a datagram socket does: a datagram longer than the buffer is cut to it.
long net_recv_from(NetSocket, void* buffer, std::size_t size, NetAddress* from) {
    if (net.events.empty()) {
        ++net.empty_polls;
        return -1;
    }
    ScriptedEvent event = std::move(net.events.front());
    net.events.pop_front();
    if (event.empty) {
        ++net.empty_polls;
        return -1;
    }
    std::size_t count = std::min(size, event.datagram.bytes.size());
    if (count > 0) std::memcpy(buffer, event.datagram.bytes.data(), count);
    if (from != nullptr) *from = event.datagram.peer;
    ++net.datagrams_delivered;
    if (net.on_deliver) {
        event.datagram.bytes.resize(count);
        net.on_deliver(event.datagram);
    }
    return static_cast<long>(count);
}

bool net_set_nonblocking(NetSocket) { return true; }
void net_close(NetSocket) {}
void net_shutdown(NetSocket) {}
// The scripted peer always has its next piece, or its close, ready.
bool net_wait_stream(NetSocket, int) { return true; }

bool net_local_address(NetSocket, NetAddress* address) {
    *address = scripted_address(0x7F000001u, 69);
    return true;
}

// Readable exactly when the next event is a datagram; an empty poll never waits.
bool net_wait_readable(NetSocket, int, WaitTimeout) { return !net.events.empty() && !net.events.front().empty; }

// A datagram next ends the wait at once and stays for the receive; otherwise the wait runs out
// its time, and that is the empty poll the next event (if any) scripts. No input ever comes.
WaitEnd net_wait_datagram(NetSocket, std::uint32_t) {
    if (!net.events.empty() && !net.events.front().empty) return WaitEnd::DATAGRAM;
    if (!net.events.empty()) net.events.pop_front();
    ++net.empty_polls;
    return WaitEnd::TIME_UP;
}
