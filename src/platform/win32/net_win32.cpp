// Sockets on Windows: Winsock over IPv4.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>

#include "platform/net.h"
#include "platform/win32/input_wake.h"

namespace {

SOCKET native_socket(NetSocket socket) { return static_cast<SOCKET>(socket); }

NetSocket socket_of(SOCKET native) {
    return native == INVALID_SOCKET ? NET_INVALID_SOCKET : static_cast<NetSocket>(native);
}

sockaddr_in to_native(const NetAddress& address) {
    sockaddr_in native{};
    native.sin_family = address.family;
    native.sin_port = address.port_be;
    native.sin_addr.s_addr = address.address_be;
    return native;
}

NetAddress from_native(const sockaddr_in& native) {
    NetAddress address{};
    address.family = native.sin_family;
    address.port_be = native.sin_port;
    address.address_be = native.sin_addr.s_addr;
    return address;
}

}  // namespace

bool net_start() {
    WSADATA data;
    return WSAStartup(0x0101, &data) == 0;
}

void net_host_name(char* name, std::size_t size) {
    if (size == 0) return;
    if (gethostname(name, static_cast<int>(size - 1)) != 0) name[0] = 0;
    name[size - 1] = 0;
}

int net_own_addresses(const char* host_name, std::uint32_t* addresses_be, int max) {
    hostent* entry = gethostbyname(host_name);
    if (entry == nullptr || entry->h_addr_list == nullptr) return 0;
    int count = 0;
    for (char** item = entry->h_addr_list; *item != nullptr && count < max; ++item) {
        std::uint32_t address;
        CopyMemory(&address, *item, sizeof address);
        addresses_be[count++] = address;
    }
    return count;
}

std::uint32_t net_htonl(std::uint32_t value) { return htonl(value); }
std::uint32_t net_ntohl(std::uint32_t value) { return ntohl(value); }
std::uint16_t net_htons(std::uint16_t value) { return htons(value); }
std::uint16_t net_ntohs(std::uint16_t value) { return ntohs(value); }

NetSocket net_tcp_socket() { return socket_of(::socket(AF_INET, SOCK_STREAM, 0)); }
NetSocket net_udp_socket() { return socket_of(::socket(AF_INET, SOCK_DGRAM, 0)); }

bool net_bind(NetSocket socket, const NetAddress& address) {
    sockaddr_in native = to_native(address);
    return ::bind(native_socket(socket), reinterpret_cast<sockaddr*>(&native), sizeof native) == 0;
}

bool net_bind_needed_privilege() { return false; }

bool net_connect(NetSocket socket, const NetAddress& address) {
    sockaddr_in native = to_native(address);
    return ::connect(native_socket(socket), reinterpret_cast<sockaddr*>(&native), sizeof native) ==
           0;
}

// A connect that waits at most limit_ms: started without blocking, then waited for.
bool net_connect_within(NetSocket socket, const NetAddress& address, int limit_ms) {
    SOCKET native_fd = native_socket(socket);
    u_long nonblocking = 1;
    if (::ioctlsocket(native_fd, FIONBIO, &nonblocking) != 0) return false;
    sockaddr_in native = to_native(address);
    bool connected =
        ::connect(native_fd, reinterpret_cast<sockaddr*>(&native), sizeof native) == 0;
    if (!connected && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(native_fd, &writable);
        FD_SET(native_fd, &failed);
        timeval limit{limit_ms / 1000, (limit_ms % 1000) * 1000};
        int ready = ::select(0, nullptr, &writable, &failed, &limit);
        connected = ready > 0 && FD_ISSET(native_fd, &writable) != 0;
        int error = WSAETIMEDOUT;
        int length = sizeof error;
        if (ready > 0 && !connected) {
            ::getsockopt(native_fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        }
        if (!connected) ::WSASetLastError(error);
    }
    u_long blocking = 0;
    ::ioctlsocket(native_fd, FIONBIO, &blocking);
    return connected;
}

long net_send(NetSocket socket, const void* data, std::size_t length) {
    return ::send(native_socket(socket), static_cast<const char*>(data), static_cast<int>(length), 0);
}

bool net_send_all(NetSocket socket, const void* data, std::size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        int sent = ::send(native_socket(socket), next, static_cast<int>(length), 0);
        if (sent <= 0) return false;
        next += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

long net_recv(NetSocket socket, void* buffer, std::size_t size) {
    return ::recv(native_socket(socket), static_cast<char*>(buffer), static_cast<int>(size), 0);
}

long net_send_to(NetSocket socket, const void* data, std::size_t length, const NetAddress& to) {
    sockaddr_in native = to_native(to);
    return ::sendto(native_socket(socket), static_cast<const char*>(data), static_cast<int>(length),
                    0, reinterpret_cast<sockaddr*>(&native), sizeof native);
}

long net_recv_from(NetSocket socket, void* buffer, std::size_t size, NetAddress* from) {
    sockaddr_in native{};
    int length = sizeof native;
    int received = ::recvfrom(native_socket(socket), static_cast<char*>(buffer),
                              static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&native),
                              &length);
    if (received >= 0 && from != nullptr) *from = from_native(native);
    return received;
}

bool net_set_nonblocking(NetSocket socket) {
    u_long on = 1;
    return ioctlsocket(native_socket(socket), FIONBIO, &on) == 0;
}

void net_close(NetSocket socket) {
    if (socket != NET_INVALID_SOCKET) closesocket(native_socket(socket));
}

bool net_local_address(NetSocket socket, NetAddress* address) {
    sockaddr_in native{};
    int length = sizeof native;
    if (getsockname(native_socket(socket), reinterpret_cast<sockaddr*>(&native), &length) != 0) {
        return false;
    }
    *address = from_native(native);
    return true;
}

namespace {

// One event per thread, tied to the socket that thread waits for; nullptr when none can be made.
// The event resets itself as a wait takes it: one call to the system fewer for every datagram.
HANDLE readable_event(NetSocket socket) {
    thread_local HANDLE event = nullptr;
    thread_local SOCKET selected = INVALID_SOCKET;
    if (event == nullptr) event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event != nullptr && selected != native_socket(socket)) {
        WSAEventSelect(native_socket(socket), event, FD_READ);
        selected = native_socket(socket);
    }
    return event;
}

}  // namespace

bool net_wait_readable(NetSocket socket, int timeout_ms, WaitTimeout) {
    // A message for the thread's windows ends the wait as well, so its dialogs are served without
    // delay. The time-out follows the system timer's own granularity, so both precisions wait
    // alike.
    HANDLE event = readable_event(socket);
    if (event == nullptr) {
        Sleep(static_cast<DWORD>(timeout_ms));
        return false;
    }
    // The event stays set when the datagram that set it was read without a wait before (the
    // loops receive first, then wait), so a wait would end at once with nothing to read. Clear
    // it and ask the socket itself; the receive call before this wait has re-armed the event,
    // so a datagram that comes after the question sets it again.
    WSAResetEvent(event);
    u_long pending = 0;
    if (ioctlsocket(native_socket(socket), FIONREAD, &pending) == 0 && pending > 0) return true;
    DWORD woken = MsgWaitForMultipleObjects(1, &event, FALSE, static_cast<DWORD>(timeout_ms),
                                            QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 + 1) input_wake_note();
    return woken == WAIT_OBJECT_0;
}

WaitEnd net_wait_datagram(NetSocket socket, std::uint32_t timeout_ms) {
    // No look at the socket before the wait, as net_wait_readable makes: the caller has received
    // until the socket was empty. An event left set by a datagram received without a wait (the
    // session looks before it waits while the answers are there already) ends the next wait at
    // once, which costs one empty receive.
    HANDLE event = readable_event(socket);
    if (event == nullptr) {
        Sleep(std::min<DWORD>(timeout_ms, 1));
        return WaitEnd::DATAGRAM;
    }
    DWORD woken = MsgWaitForMultipleObjects(1, &event, FALSE, timeout_ms, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return WaitEnd::DATAGRAM;
    if (woken != WAIT_OBJECT_0 + 1) return WaitEnd::TIME_UP;
    input_wake_note();
    return WaitEnd::INPUT;
}

void net_shutdown(NetSocket socket) { ::shutdown(native_socket(socket), SD_BOTH); }

bool net_wait_stream(NetSocket socket, int timeout_ms) {
    // select, unlike the event wait above, leaves the socket in blocking mode. A shutdown from
    // another thread need not end a blocking receive here, so the exchange waits in short steps.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native_socket(socket), &readable);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

const char* net_last_error_text() {
    // The errors an upgrade meets; Winsock 1.1 has no text of its own for them.
    int error = WSAGetLastError();
    switch (error) {
        case WSAECONNREFUSED: return "Connection refused";
        case WSAETIMEDOUT: return "Connection timed out";
        case WSAEHOSTUNREACH: return "No route to host";
        case WSAENETUNREACH: return "Network is unreachable";
        case WSAEADDRINUSE: return "Address already in use";
        case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
        case WSAECONNRESET: return "Connection reset by peer";
        case WSAEACCES: return "Permission denied";
        default: break;
    }
    thread_local char text[32];
    wsprintfA(text, "Winsock error %d", error);
    return text;
}
