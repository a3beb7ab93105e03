// A network made of a script, linked into the fuzz targets in place of the platform's sockets:
// what the code under test receives comes from the script, what it sends is recorded and checked.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/net.h"

struct ScriptedDatagram {
    NetAddress peer;  // the source of a received datagram, the destination of a sent one
    std::vector<std::uint8_t> bytes;
};

// One receive call's outcome: nothing (an empty poll), or a datagram.
struct ScriptedEvent {
    bool empty;
    ScriptedDatagram datagram;
};

struct ScriptedNet {
    // UDP: the events the receive calls take in turn; once they run out every poll is empty.
    std::deque<ScriptedEvent> events;
    std::size_t datagrams_delivered;
    std::size_t empty_polls;  // receive calls that found nothing
    std::vector<ScriptedDatagram> sent;
    // Called as a datagram is handed to the code and as the code sends one.
    std::function<void(const ScriptedDatagram&)> on_deliver;
    std::function<void(const ScriptedDatagram&)> on_send;

    // TCP: whether connections are refused, the pieces each receive call returns in turn (the
    // peer closes after the last), and everything the code sent on the stream.
    bool refuse_connections;
    std::deque<std::vector<std::uint8_t>> stream_pieces;
    std::vector<std::uint8_t> stream_sent;
    int connections;
};

ScriptedNet& scripted_net();
void scripted_net_reset();

NetAddress scripted_address(std::uint32_t address, std::uint16_t port);
