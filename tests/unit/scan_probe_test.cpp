// A scan's probe (--scan-probe): each request connects once and gives up on a silent address after
// PROBE_CONNECT_LIMIT_MS; without it a request keeps its ten attempts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "app/device_http.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "loopback_socket.h"
#include "platform/net_address.h"
#include "test_support.h"

namespace {

constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;

// A listening port whose accept queue is full: the system drops every further SYN, as a silent
// address does.
class SilentPort {
public:
    SilentPort() : listener_(bound_loopback_socket(SOCK_STREAM, 0, &port_)) {
        listen(listener_, 0);
        NetAddress address;
        fill_sockaddr(LOOPBACK_ADDRESS, port_, &address);
        net_connect_within(filler_, address, 2000);
    }
    ~SilentPort() {
        net_close(filler_);
        close(listener_);
    }
    std::uint16_t port() const { return port_; }

private:
    std::uint16_t port_ = 0;
    int listener_;
    NetSocket filler_ = net_tcp_socket();
};

class ScanProbe : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
        keep_trace();
    }
    void TearDown() override {
        http_get_probe_only(false);
        stop_keeping_trace();
    }
    std::int32_t get(std::uint16_t port) {
        buffer_.assign(RESPONSE_BUFFER_SIZE, 0);
        return http_get(LOOPBACK_ADDRESS, free_local_port(), LOOPBACK_ADDRESS, port, "/", buffer_.data(),
                        RESPONSE_LIMIT);
    }
    std::vector<char> buffer_;
};

TEST_F(ScanProbe, ARefusedAddressIsAskedOnceAndAnUpgradeTenTimes) {
    RefusingPort refusing;
    const std::string& traced = kept_trace();
    for (bool probe : {true, false}) {
        clear_kept_trace();
        http_get_probe_only(probe);
        EXPECT_EQ(get(refusing.port()), 0);
        EXPECT_EQ(occurrences(traced, "HTTP connection failed: Connection refused\n"),
                  probe ? 1 : MAX_CONNECT_ATTEMPTS);
    }
}

TEST_F(ScanProbe, ASilentAddressIsGivenUpAfterTheProbesLimit) {
    SilentPort silent;
    http_get_probe_only(true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(silent.port()), 0);
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, PROBE_CONNECT_LIMIT_MS - 50);
    // The system's own wait is 21 s, ten of them far more.
    EXPECT_LT(waited, 4 * PROBE_CONNECT_LIMIT_MS);
    EXPECT_EQ(occurrences(kept_trace(), "HTTP connection failed: "), 1);
}

}  // namespace
