// The TFTP listener: the UDP socket the device fetches the image from, and the thread that waits
// for the device's read request of the announced file name, telling its events as it goes.
#pragma once
#include <cstdint>

#include "platform/net.h"
#include "tftp/tftp_events.h"

constexpr std::uint16_t TFTP_FIRST_PORT = 69;
constexpr int TFTP_BIND_ATTEMPTS = 100;
constexpr int TFTP_RECEIVE_AREA_SIZE = 130;
constexpr int WAITING_PROGRESS_CYCLE = 1000;

struct TftpListener {
    std::uint32_t local_ip;
    std::uint16_t port;
    NetSocket socket;
    std::uint8_t receive_area[TFTP_RECEIVE_AREA_SIZE];
    TftpEvents* events;
};

// Binds the socket to local_ip on first_port or the next free of attempts ports; the bound port,
// or 0 when none could be bound. Then *for_privilege tells whether every one of them was refused
// for want of privilege.
std::uint16_t bind_port_walk(NetSocket socket, std::uint32_t local_ip, std::uint16_t first_port,
                             int attempts, bool* for_privilege = nullptr);

// Binds the socket to local_ip on first_port or the next free of TFTP_BIND_ATTEMPTS ports, or,
// when none of them can be bound, on a port the system chooses (the log says so); the port, or 0
// when even that fails.
std::uint16_t bind_listener_port(NetSocket socket, std::uint32_t local_ip,
                                 std::uint16_t first_port);

// Creates and binds the socket (ports 69 to 168, or the port the system chooses when none of them
// can be bound) and starts the listener thread, which tells events what it
// does; returns the port. When it cannot, it calls events.fail and returns 0.
std::uint32_t start_tftp_listener(std::uint32_t local_address, TftpEvents& events);
std::int32_t tftp_listener_thread(void* listener);

enum class DatagramVerdict { IDLE, IGNORED, ACCEPTED };
// What the listener makes of one received datagram (length as received): a read request for the
// announced name is accepted and its name copied to file_name (TFTP_RECEIVE_AREA_SIZE bytes);
// anything else is traced where the protocol says so and ignored; a runt counts as an idle poll.
DatagramVerdict judge_listener_datagram(const std::uint8_t* datagram, long length,
                                        char* file_name);
