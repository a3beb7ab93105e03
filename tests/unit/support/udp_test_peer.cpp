// Loopback UDP helpers for the TFTP listener and session tests.
#include "udp_test_peer.h"

#include "loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace {

int bound_udp_socket(std::uint16_t port, std::uint16_t* bound_port) {
    return bound_loopback_socket(SOCK_DGRAM, port, bound_port);
}

}  // namespace

UdpTestPeer::UdpTestPeer() {
    fd_ = bound_udp_socket(0, &port_);
    if (fd_ < 0) std::abort();
}

UdpTestPeer::~UdpTestPeer() { close(fd_); }

bool UdpTestPeer::receive(UdpDatagram* datagram, int timeout_ms) {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, timeout_ms) <= 0) return false;
    std::uint8_t buffer[2048];
    sockaddr_in source{};
    socklen_t length = sizeof source;
    ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source),
                           &length);
    if (got < 0) return false;
    datagram->bytes.assign(buffer, buffer + got);
    datagram->source_port = ntohs(source.sin_port);
    return true;
}

void UdpTestPeer::send(std::uint16_t to_port, const std::vector<std::uint8_t>& bytes) {
    sockaddr_in to = loopback_address(to_port);
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::uint32_t tftp_opcode(const UdpDatagram& datagram) {
    if (datagram.bytes.size() < 2) return 0;
    return datagram.bytes[0] * 256u + datagram.bytes[1];
}

std::uint32_t tftp_block(const UdpDatagram& datagram) {
    if (datagram.bytes.size() < 4) return 0;
    return datagram.bytes[2] * 256u + datagram.bytes[3];
}

std::vector<std::uint8_t> tftp_ack(std::uint32_t block) {
    return {0, 4, static_cast<std::uint8_t>((block >> 8) & 0xFF),
            static_cast<std::uint8_t>(block & 0xFF)};
}

HeldUdpPorts::HeldUdpPorts(int count) {
    for (int tries = 0; tries < 200 && fds_.empty(); ++tries) {
        std::uint16_t port = 0;
        int fd = bound_udp_socket(0, &port);
        if (fd < 0 || port > 65535 - count) {
            if (fd >= 0) close(fd);
            continue;
        }
        fds_.push_back(fd);
        first_ = port;
        for (int i = 1; i <= count; ++i) {
            std::uint16_t next = 0;
            int held = bound_udp_socket(static_cast<std::uint16_t>(port + i), &next);
            if (held < 0) break;
            if (i == count) {
                close(held);  // only checked: the port after the held ones is free
                return;
            }
            fds_.push_back(held);
        }
        for (int held : fds_) close(held);
        fds_.clear();
    }
    std::abort();
}

HeldUdpPorts::~HeldUdpPorts() {
    for (int fd : fds_) close(fd);
}
