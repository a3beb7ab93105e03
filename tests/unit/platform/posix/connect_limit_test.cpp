// A connect to an address where nothing answers (SYNs dropped, not refused) gives up at its limit,
// and another thread can end it at once.
#include "platform/posix/connect_limit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "loopback_socket.h"
#include "platform/net_address.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A listening port on 127.0.0.1 whose accept queue is full (a backlog of 0, one connection
// waiting in it, never accepted): the system drops every further SYN, as a silent host would.
class SilentPort {
public:
    SilentPort() : listener_(bound_loopback_socket(SOCK_STREAM, 0, &port_)) {
        listen(listener_, 0);
        // The first connection fills the queue (or, without SYN cookies, is dropped itself).
        net_connect_within(filler_, target(), 2000);
    }
    ~SilentPort() {
        net_close(filler_);
        close(listener_);
    }
    NetAddress target() const {
        NetAddress address;
        fill_sockaddr(0x7F000001u, port_, &address);
        return address;
    }

private:
    std::uint16_t port_ = 0;
    int listener_;
    NetSocket filler_ = net_tcp_socket();
};

TEST(ConnectLimit, AConnectWhoseSynsAreDroppedGivesUpAtItsLimit) {
    SilentPort silent;
    NetSocket socket = net_tcp_socket();
    auto start = Clock::now();
    EXPECT_FALSE(net_connect_within(socket, silent.target(), 400));
    EXPECT_EQ(errno, ETIMEDOUT);
    long took = ms_since(start);
    EXPECT_GE(took, 390);
    EXPECT_LT(took, 10'000);
    // The socket is blocking again, as the exchange after a connect expects it.
    EXPECT_EQ(fcntl(static_cast<int>(socket), F_GETFL) & O_NONBLOCK, 0);
    net_close(socket);
    EXPECT_EQ(NET_CONNECT_LIMIT_MS, 21'000);
}

TEST(ConnectLimit, AShutdownFromAnotherThreadEndsTheWaitAtOnce) {
    SilentPort silent;
    NetSocket socket = net_tcp_socket();
    std::thread stopper([socket] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        net_shutdown(socket);
    });
    auto start = Clock::now();
    EXPECT_FALSE(net_connect_within(socket, silent.target(), NET_CONNECT_LIMIT_MS));
    EXPECT_LT(ms_since(start), 10'000);
    stopper.join();
    net_close(socket);
}

}  // namespace
