// Sockets on 127.0.0.1 for the tests that play the device's side of a TCP or UDP exchange.
#pragma once
#include <netinet/in.h>

#include <cstdint>

sockaddr_in loopback_address(std::uint16_t port);
// A socket of that type (SOCK_STREAM or SOCK_DGRAM) bound to 127.0.0.1:port (0: the system
// picks), or to another loopback address given in host order; its descriptor, with the bound
// port, or -1 when the port is taken.
int bound_loopback_socket(int type, std::uint16_t port, std::uint16_t* bound_port,
                          std::uint32_t address = INADDR_LOOPBACK);
