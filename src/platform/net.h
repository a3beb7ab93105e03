// Sockets for the upgrader: socket library start, the computer's own IPv4 addresses, and the TCP
// and UDP operations the HTTP client and the TFTP server need.
#pragma once
#include <cstddef>
#include <cstdint>

using NetSocket = std::uintptr_t;
constexpr NetSocket NET_INVALID_SOCKET = ~static_cast<NetSocket>(0);

constexpr std::uint16_t NET_AF_INET = 2;

// Same layout as the platform's IPv4 socket address: family, then port and address in network order.
struct NetAddress {
    std::uint16_t family;
    std::uint16_t port_be;
    std::uint32_t address_be;
    std::uint8_t zero[8];
};
static_assert(sizeof(NetAddress) == 16);

constexpr int NET_MAX_HOST_ADDRESSES = 64;

// Starts the socket library (version 1.1 on Windows); false when it cannot be started.
bool net_start();
// Host name into name, at most size - 1 characters and always NUL-terminated; empty on failure.
void net_host_name(char* name, std::size_t size);
// The computer's own IPv4 addresses, network order, at most max; returns how many. On Windows those
// host_name resolves to, in resolver order: there the host name lists every adapter. On POSIX
// the host name often resolves to loopback alone (127.0.1.1 in /etc/hosts), so the addresses
// of the interfaces that are up are taken instead, those outside 127/8 first (loopback_last).
int net_own_addresses(const char* host_name, std::uint32_t* addresses_be, int max);

std::uint32_t net_htonl(std::uint32_t value);
std::uint32_t net_ntohl(std::uint32_t value);
std::uint16_t net_htons(std::uint16_t value);
std::uint16_t net_ntohs(std::uint16_t value);

NetSocket net_tcp_socket();
NetSocket net_udp_socket();
bool net_bind(NetSocket socket, const NetAddress& address);
// Whether the calling thread's last failed bind was refused for want of privilege: on Linux a port
// below the unprivileged range (1024 by default) for a user without the capability. Always false
// on Windows, where every port is open to every user.
bool net_bind_needed_privilege();
bool net_connect(NetSocket socket, const NetAddress& address);
// Connects the blocking socket within limit_ms; false on failure or when the limit passed. The
// socket stays blocking.
bool net_connect_within(NetSocket socket, const NetAddress& address, int limit_ms);
// One send call; returns bytes sent or a negative value.
long net_send(NetSocket socket, const void* data, std::size_t length);
// Sends all of data, looping over partial sends; false on an error.
bool net_send_all(NetSocket socket, const void* data, std::size_t length);
// One receive call; returns bytes received, 0 at close, negative on error or would-block.
long net_recv(NetSocket socket, void* buffer, std::size_t size);
long net_send_to(NetSocket socket, const void* data, std::size_t length, const NetAddress& to);
long net_recv_from(NetSocket socket, void* buffer, std::size_t size, NetAddress* from);
bool net_set_nonblocking(NetSocket socket);
void net_close(NetSocket socket);
// The address a socket is bound to (for the port chosen by a bind walk); false on error.
bool net_local_address(NetSocket socket, NetAddress* address);
// How closely a wait keeps its time-out when nothing arrives. EXACT wakes on time. COARSE may
// end a few milliseconds late: on Linux an exact short time-out makes the kernel reprogram its
// timer at every wait, which on loopback costs a large share of a block's round trip.
enum class WaitTimeout { EXACT, COARSE };
// Waits until the socket is readable or timeout_ms have passed; true when readable. A datagram
// ends the wait at once whatever the precision. On Windows a message for the calling thread's
// windows also ends the wait, so dialogs stay responsive.
bool net_wait_readable(NetSocket socket, int timeout_ms, WaitTimeout precision);
// What ended a wait for a datagram.
enum class WaitEnd { DATAGRAM, INPUT, TIME_UP };
// One blocking wait for whichever comes first: the socket readable, input for the calling
// thread's dialogs (on Windows a message for its windows; on Linux a typed line or Ctrl-C for the
// console), or timeout_ms passed. A wake may be spurious: the caller receives without blocking
// and takes an empty socket as nothing come.
WaitEnd net_wait_datagram(NetSocket socket, std::uint32_t timeout_ms);
// Ends both directions of a connected socket. A connect, receive or wait blocked on it in another
// thread then returns (on Linux closing it would not wake them); the socket stays open until
// net_close.
void net_shutdown(NetSocket socket);
// Waits until a receive on a connected TCP socket would not block (data, the peer's close, an
// error) or timeout_ms have passed; true in the first case. It leaves the socket blocking.
bool net_wait_stream(NetSocket socket, int timeout_ms);
// The system's words for why the calling thread's last socket call failed ("Connection refused"),
// for the support log; valid until the thread's next call.
const char* net_last_error_text();
