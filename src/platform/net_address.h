// IPv4 socket addresses from host-order values and back, for the web client and the TFTP server;
// the order the computer's own addresses are offered in, and which of them faces a device.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/net.h"

// An IPv4 socket address from a host-order address (0 = any) and port, and back.
inline void fill_sockaddr(std::uint32_t address, std::uint16_t port, NetAddress* out) {
    std::memset(out, 0, sizeof *out);
    out->family = NET_AF_INET;
    out->port_be = net_htons(port);
    out->address_be = net_htonl(address);
}

inline void read_sockaddr(const NetAddress& in, std::uint32_t* address, std::uint16_t* port) {
    *address = net_ntohl(in.address_be);
    *port = net_ntohs(in.port_be);
}

// 127.0.0.0/8, the computer talking to itself (host order).
inline bool is_loopback_address(std::uint32_t address) { return (address >> 24) == 127; }

// Moves the loopback addresses (network order) behind the others, each group keeping its order:
// a device is never reached over loopback, so a list cut to its first entries keeps the others.
inline void loopback_last(std::uint32_t* addresses_be, int count) {
    std::stable_partition(addresses_be, addresses_be + count, [](std::uint32_t address_be) {
        return !is_loopback_address(net_ntohl(address_be));
    });
}

// The local address (host order) the system would send from to reach device: it binds a UDP
// socket connected there to that address. Connecting a UDP socket sends nothing. 0 when the
// system has no route to device.
inline std::uint32_t route_source_address(std::uint32_t device) {
    constexpr std::uint16_t PROBE_PORT = 80;  // any port does; the device's web server's
    NetSocket socket = net_udp_socket();
    if (socket == NET_INVALID_SOCKET) return 0;
    NetAddress to;
    fill_sockaddr(device, PROBE_PORT, &to);
    NetAddress bound{};
    std::uint32_t source = 0;
    std::uint16_t port = 0;
    if (net_connect(socket, to) && net_local_address(socket, &bound)) {
        read_sockaddr(bound, &source, &port);
    }
    net_close(socket);
    return source;
}
