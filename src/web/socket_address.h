// IPv4 socket addresses from and back to host-order addresses and ports.
#pragma once
#include <cstdint>

#include "platform/net.h"

// Family IPv4, port and address in network order (address 0 stays 0, the any-address).
void fill_sockaddr(std::uint32_t address, std::uint16_t port, NetAddress* out);
void read_sockaddr(const NetAddress& in, std::uint32_t* address, std::uint16_t* port);
