// What besides its socket ends a wait for a datagram on POSIX (net_wait_datagram): the console
// front end names the descriptors of its input, so that Cancel answers at once, and is told when
// one of them ended a wait.
#pragma once

constexpr int DATAGRAM_WAKE_MAX = 2;

struct DatagramWake {
    // Fills at most DATAGRAM_WAKE_MAX descriptors to wait on as well; returns how many.
    int (*descriptors)(int* descriptors);
    // One of them (or a signal) ended the wait.
    void (*told)();
};
// For the rest of the run (it must stay valid); nullptr: only the socket and the time end a wait.
void datagram_wake_use(const DatagramWake* wake);
