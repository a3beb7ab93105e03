// IPv4 socket addresses from host-order values and back, for the web client and the TFTP server.
#pragma once
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
