// Sockets on POSIX: BSD sockets over IPv4.
#include "platform/net.h"
#include "platform/net_address.h"
#include "platform/posix/connect_limit.h"
#include "platform/posix/datagram_wake.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// What else ends a wait for a datagram: the console's input, once the console is there.
std::atomic<const DatagramWake*> datagram_wake{nullptr};

int fd_of(NetSocket socket) { return static_cast<int>(socket); }

NetSocket socket_of(int fd) { return fd < 0 ? NET_INVALID_SOCKET : static_cast<NetSocket>(fd); }

sockaddr_in to_native(const NetAddress& address) {
    sockaddr_in native{};
    native.sin_family = address.family;
    native.sin_port = address.port_be;
    native.sin_addr.s_addr = address.address_be;
    return native;
}

// A coarse wait lets the kernel fire its time-out with the next scheduler tick (4 ms at 250 Hz)
// instead of programming a timer for it. Returns the thread's own slack, to restore afterwards.
unsigned long allow_late_wake() {
#ifdef __linux__
    constexpr unsigned long COARSE_SLACK_NS = 4'000'000;
    thread_local int own = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, COARSE_SLACK_NS, 0, 0, 0);
    return own > 0 ? static_cast<unsigned long>(own) : 0;
#else
    return 0;
#endif
}

void restore_timer_slack(unsigned long slack) {
#ifdef __linux__
    // 0 would mean the default again, which is what a thread without its own slack has.
    prctl(PR_SET_TIMERSLACK, slack, 0, 0, 0);
#else
    (void)slack;
#endif
}

NetAddress from_native(const sockaddr_in& native) {
    NetAddress address{};
    address.family = native.sin_family;
    address.port_be = native.sin_port;
    address.address_be = native.sin_addr.s_addr;
    return address;
}

}  // namespace

bool net_start() { return true; }

void net_host_name(char* name, std::size_t size) {
    if (size == 0) return;
    if (gethostname(name, size - 1) != 0) name[0] = 0;
    name[size - 1] = 0;
}

int net_own_addresses(const char*, std::uint32_t* addresses_be, int max) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return 0;
    int count = 0;
    for (ifaddrs* entry = list; entry != nullptr && count < max; entry = entry->ifa_next) {
        bool up = (entry->ifa_flags & IFF_UP) != 0;
        if (!up || entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        const auto* native = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        addresses_be[count++] = native->sin_addr.s_addr;
    }
    freeifaddrs(list);
    loopback_last(addresses_be, count);
    return count;
}

std::uint32_t net_htonl(std::uint32_t value) { return htonl(value); }
std::uint32_t net_ntohl(std::uint32_t value) { return ntohl(value); }
std::uint16_t net_htons(std::uint16_t value) { return htons(value); }
std::uint16_t net_ntohs(std::uint16_t value) { return ntohs(value); }

NetSocket net_tcp_socket() { return socket_of(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }
NetSocket net_udp_socket() { return socket_of(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

bool net_bind(NetSocket socket, const NetAddress& address) {
    sockaddr_in native = to_native(address);
    return ::bind(fd_of(socket), reinterpret_cast<sockaddr*>(&native), sizeof native) == 0;
}

bool net_bind_needed_privilege() { return errno == EACCES; }

namespace {

std::int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Waits for a connect in progress to end, at most until the limit; false with errno set when it
// failed or the limit passed.
bool wait_connected(int fd, int limit_ms) {
    std::int64_t deadline = monotonic_ms() + limit_ms;
    for (;;) {
        std::int64_t left = deadline - monotonic_ms();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd entry{fd, POLLOUT, 0};
        int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) continue;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
        // Ended by a shutdown from another thread, the socket may report no error, yet no peer.
        sockaddr_in peer{};
        socklen_t peer_length = sizeof peer;
        if (error == 0 && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0) {
            error = ECONNABORTED;
        }
        errno = error;
        return error == 0;
    }
}

}  // namespace

bool net_connect_within(NetSocket socket, const NetAddress& address, int limit_ms) {
    int fd = fd_of(socket);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    sockaddr_in native = to_native(address);
    bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&native), sizeof native) == 0 ||
        ((errno == EINPROGRESS || errno == EINTR) && wait_connected(fd, limit_ms));
    int saved = errno;
    ::fcntl(fd, F_SETFL, flags);
    errno = saved;
    return connected;
}

bool net_connect(NetSocket socket, const NetAddress& address) {
    return net_connect_within(socket, address, NET_CONNECT_LIMIT_MS);
}

long net_send(NetSocket socket, const void* data, std::size_t length) {
    return ::send(fd_of(socket), data, length, MSG_NOSIGNAL);
}

bool net_send_all(NetSocket socket, const void* data, std::size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        long sent = ::send(fd_of(socket), next, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        next += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

long net_recv(NetSocket socket, void* buffer, std::size_t size) {
    long received;
    do {
        received = ::recv(fd_of(socket), buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return received;
}

long net_send_to(NetSocket socket, const void* data, std::size_t length, const NetAddress& to) {
    sockaddr_in native = to_native(to);
    return ::sendto(fd_of(socket), data, length, 0, reinterpret_cast<sockaddr*>(&native),
                    sizeof native);
}

long net_recv_from(NetSocket socket, void* buffer, std::size_t size, NetAddress* from) {
    sockaddr_in native{};
    socklen_t length = sizeof native;
    long received = ::recvfrom(fd_of(socket), buffer, size, 0,
                               reinterpret_cast<sockaddr*>(&native), &length);
    if (received >= 0 && from != nullptr) *from = from_native(native);
    return received;
}

bool net_set_nonblocking(NetSocket socket) {
    int flags = fcntl(fd_of(socket), F_GETFL, 0);
    return flags >= 0 && fcntl(fd_of(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

void net_close(NetSocket socket) {
    if (socket != NET_INVALID_SOCKET) ::close(fd_of(socket));
}

bool net_local_address(NetSocket socket, NetAddress* address) {
    sockaddr_in native{};
    socklen_t length = sizeof native;
    if (getsockname(fd_of(socket), reinterpret_cast<sockaddr*>(&native), &length) != 0) return false;
    *address = from_native(native);
    return true;
}

bool net_wait_readable(NetSocket socket, int timeout_ms, WaitTimeout precision) {
    bool coarse = precision == WaitTimeout::COARSE;
    unsigned long own_slack = coarse ? allow_late_wake() : 0;
    pollfd entry{fd_of(socket), POLLIN, 0};
    bool readable = ::poll(&entry, 1, timeout_ms) > 0 && (entry.revents & (POLLIN | POLLERR)) != 0;
    if (coarse) restore_timer_slack(own_slack);
    return readable;
}

void datagram_wake_use(const DatagramWake* wake) { datagram_wake.store(wake); }

WaitEnd net_wait_datagram(NetSocket socket, std::uint32_t timeout_ms) {
    pollfd entries[1 + DATAGRAM_WAKE_MAX] = {{fd_of(socket), POLLIN, 0}};
    int input_fds[DATAGRAM_WAKE_MAX];
    const DatagramWake* wake = datagram_wake.load();
    int inputs = wake != nullptr ? wake->descriptors(input_fds) : 0;
    for (int i = 0; i < inputs; ++i) entries[1 + i] = pollfd{input_fds[i], POLLIN, 0};
    int timeout = static_cast<int>(std::min<std::uint32_t>(timeout_ms, INT_MAX));
    int ready = ::poll(entries, static_cast<nfds_t>(1 + inputs), timeout);
    bool input = ready < 0 && errno == EINTR;  // Ctrl-C
    for (int i = 1; i <= inputs && ready > 0; ++i) input = input || entries[i].revents != 0;
    if (input) {
        if (wake != nullptr) wake->told();
        return WaitEnd::INPUT;
    }
    return ready > 0 ? WaitEnd::DATAGRAM : WaitEnd::TIME_UP;
}

void net_shutdown(NetSocket socket) { ::shutdown(fd_of(socket), SHUT_RDWR); }

bool net_wait_stream(NetSocket socket, int timeout_ms) {
    pollfd entry{fd_of(socket), POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0;
}

const char* net_last_error_text() {
    thread_local char text[96];
    int error = errno;
    // The GNU strerror_r may return a constant text instead of filling the buffer.
    const char* words = strerror_r(error, text, sizeof text);
    return words;
}
