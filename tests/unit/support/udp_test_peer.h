// UDP sockets on 127.0.0.1 for the TFTP tests: a peer that plays the device, sending from a port
// of its own and receiving what the server sends, and ports held bound so a bind walk must skip them.
#pragma once
#include <cstdint>
#include <vector>

struct UdpDatagram {
    std::vector<std::uint8_t> bytes;
    std::uint16_t source_port = 0;
};

class UdpTestPeer {
public:
    UdpTestPeer();
    ~UdpTestPeer();
    UdpTestPeer(const UdpTestPeer&) = delete;
    UdpTestPeer& operator=(const UdpTestPeer&) = delete;

    std::uint16_t port() const { return port_; }
    // Waits up to timeout_ms for one datagram; false when none came.
    bool receive(UdpDatagram* datagram, int timeout_ms);
    void send(std::uint16_t to_port, const std::vector<std::uint8_t>& bytes);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Opcode and block number of a TFTP packet (0 where the packet is too short for them).
std::uint32_t tftp_opcode(const UdpDatagram& datagram);
std::uint32_t tftp_block(const UdpDatagram& datagram);
std::vector<std::uint8_t> tftp_ack(std::uint32_t block);

// count consecutive UDP ports on 127.0.0.1 held bound, with the port after them free a moment ago.
class HeldUdpPorts {
public:
    explicit HeldUdpPorts(int count);
    ~HeldUdpPorts();
    HeldUdpPorts(const HeldUdpPorts&) = delete;
    HeldUdpPorts& operator=(const HeldUdpPorts&) = delete;

    std::uint16_t first() const { return first_; }

private:
    std::vector<int> fds_;
    std::uint16_t first_ = 0;
};
