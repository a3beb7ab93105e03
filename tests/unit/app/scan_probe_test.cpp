// A scan's probe (--scan-probe): each request connects once (within PROBE_CONNECT_LIMIT_MS, which
// net_connect_within keeps: connect_limit_test); without it a request keeps its ten attempts.
#include <gtest/gtest.h>

#include <vector>

#include "app/device_http.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
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

}  // namespace
