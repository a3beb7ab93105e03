// IPv4 socket addresses for the HTTP client and the TFTP server.
#include "web/socket_address.h"

void fill_sockaddr(std::uint32_t address, std::uint16_t port, NetAddress* out) {
    *out = NetAddress{};
    out->family = NET_AF_INET;
    out->port_be = net_htons(port);
    out->address_be = net_htonl(address);
}

void read_sockaddr(const NetAddress& in, std::uint32_t* address, std::uint16_t* port) {
    *address = net_ntohl(in.address_be);
    *port = net_ntohs(in.port_be);
}
