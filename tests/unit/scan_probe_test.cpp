// A scan's probe (--scan-probe): each request connects once and gives up on a silent address after
// PROBE_CONNECT_LIMIT_MS; without it a request keeps its ten attempts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "app/device_http.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "loopback_socket.h"
#include "platform/net_address.h"
#include "test_support.h"

namespace {

struct ScanProbe : ::testing::Test {
    void SetUp() override { keep_trace(); }
    void TearDown() override {
        http_get_probe_only(false);
        stop_keeping_trace();
    }
    std::int32_t get(std::uint16_t port) {
        std::vector<char> buffer(RESPONSE_BUFFER_SIZE);
        return http_get(LOOPBACK, free_local_port(), LOOPBACK, port, "/", buffer.data(), RESPONSE_LIMIT);
    }
};

TEST_F(ScanProbe, ARefusedAddressIsAskedOnceAndAnUpgradeTenTimes) {
    RefusingPort refusing;
    for (bool probe : {true, false}) {
        clear_kept_trace();
        http_get_probe_only(probe);
        EXPECT_EQ(get(refusing.port()), 0);
        EXPECT_EQ(occurrences(kept_trace(), "HTTP connection failed: Connection refused\n"),
                  probe ? 1 : MAX_CONNECT_ATTEMPTS);
    }
}

// A listener whose accept queue is full drops every further SYN, as a silent address does.
TEST_F(ScanProbe, ASilentAddressIsGivenUpAfterTheProbesLimit) {
    std::uint16_t port = 0;
    int listener = bound_loopback_socket(SOCK_STREAM, 0, &port);
    listen(listener, 0);
    NetSocket filler = net_tcp_socket();
    NetAddress address;
    fill_sockaddr(LOOPBACK, port, &address);
    net_connect_within(filler, address, 2000);
    http_get_probe_only(true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(port), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(PROBE_CONNECT_LIMIT_MS - 50));
    EXPECT_LT(waited, std::chrono::milliseconds(4 * PROBE_CONNECT_LIMIT_MS));  // the system's: 21 s
    EXPECT_EQ(occurrences(kept_trace(), "HTTP connection failed: "), 1);
    net_close(filler);
    close(listener);
}

}  // namespace
