// Start-up: the state it leaves behind for the first dialog.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/start_up.h"
#include "core/upgrade_state.h"
#include "platform/net.h"
#include "platform/net_address.h"
#include "test_resources.h"
#include "ui/error_box.h"

namespace {

TEST(LocalAddresses, KeepsTheFirstEightInResolverOrderInHostOrder) {
    std::vector<std::uint32_t> resolved;
    for (std::uint32_t i = 1; i <= 10; ++i) resolved.push_back(net_htonl(0x0A000000u + i));
    store_local_addresses(resolved.data(), static_cast<int>(resolved.size()));
    for (int i = 0; i < LOCAL_ADDRESS_COUNT; ++i) {
        EXPECT_EQ(upgrade_state.local_addresses[i], 0x0A000001u + static_cast<std::uint32_t>(i));
    }
    EXPECT_EQ(upgrade_state.local_ip, 0x0A000001u);
}

TEST(LocalAddresses, NoAnswerLeavesAnEmptyListAndNoLocalAddress) {
    std::uint32_t one = net_htonl(0x7F000001u);
    store_local_addresses(&one, 1);
    store_local_addresses(nullptr, 0);
    for (std::uint32_t address : upgrade_state.local_addresses) EXPECT_EQ(address, 0u);
    EXPECT_EQ(upgrade_state.local_ip, 0u);
}

TEST(LocalAddresses, AShortListEndsAtTheFirstZero) {
    std::uint32_t two[] = {net_htonl(0xC0A8000Au), net_htonl(0x7F000001u)};
    store_local_addresses(two, 2);
    EXPECT_EQ(upgrade_state.local_addresses[0], 0xC0A8000Au);
    EXPECT_EQ(upgrade_state.local_addresses[1], 0x7F000001u);
    EXPECT_EQ(upgrade_state.local_addresses[2], 0u);
}

// The interfaces' addresses: the LAN ones first, in interface order, loopback behind them, and
// the list of 8 cut after the ordering, so that loopback is what falls off.
TEST(LocalAddresses, LoopbackComesLastAndIsWhatAFullListLeavesOut) {
    std::vector<std::uint32_t> found;
    for (std::uint32_t address : {0x7F000001u, 0xC0000202u, 0x7F000109u, 0x0A000005u, 0xC6336407u}) {
        found.push_back(net_htonl(address));
    }
    loopback_last(found.data(), static_cast<int>(found.size()));
    store_local_addresses(found.data(), static_cast<int>(found.size()));
    const std::uint32_t expected[] = {0xC0000202u, 0x0A000005u, 0xC6336407u, 0x7F000001u,
                                      0x7F000109u, 0, 0, 0};
    for (int i = 0; i < LOCAL_ADDRESS_COUNT; ++i) {
        EXPECT_EQ(upgrade_state.local_addresses[i], expected[i]) << i;
    }
    EXPECT_EQ(upgrade_state.local_ip, 0xC0000202u);

    found.clear();
    found.push_back(net_htonl(0x7F000001u));
    for (std::uint32_t i = 1; i <= 8; ++i) found.push_back(net_htonl(0x0A000000u + i));
    loopback_last(found.data(), static_cast<int>(found.size()));
    store_local_addresses(found.data(), static_cast<int>(found.size()));
    EXPECT_EQ(upgrade_state.local_addresses[0], 0x0A000001u);
    EXPECT_EQ(upgrade_state.local_addresses[7], 0x0A000008u);
}

TEST(StartUp, ClearsAuthenticationAndIdentifiesTheProduct) {
    std::vector<std::uint8_t> image(2000, 0);
    std::memcpy(image.data(), "velora610", 9);
    std::memcpy(image.data() + 92, "2.0.1", 5);
    set_test_resources({{"TEV_FIRMWARE", 112, image.data(), 2000}});
    std::memset(&upgrade_state.auth, 0x5A, sizeof upgrade_state.auth);

    start_up();

    const auto* bytes = reinterpret_cast<const unsigned char*>(&upgrade_state.auth);
    for (std::size_t i = 0; i < sizeof upgrade_state.auth; ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_STREQ(upgrade_state.product_label, "TEV-610");
    EXPECT_EQ(upgrade_state.is_phone_model, 1);
    EXPECT_EQ(upgrade_state.target_image.size, 2000u);
    EXPECT_EQ(upgrade_state.local_ip, upgrade_state.local_addresses[0]);
    set_test_resources({});
}

TEST(StateRecord, StartsAtTheTargetStageWithTheDocumentedFieldSizes) {
    EXPECT_EQ(INITIAL_STAGE, STAGE_TARGET);
    EXPECT_EQ(sizeof(DeviceInfo), 5u * 128u);
    EXPECT_EQ(sizeof(upgrade_state.response_buffer), 131072u);
    EXPECT_EQ(sizeof(upgrade_state.device_ip_text), 32u);
    EXPECT_EQ(sizeof(upgrade_state.auth.qop), 16u);
}

TEST(Centring, HalvesTheDifferenceByArithmeticShift) {
    EXPECT_EQ(centred_position(1024, 300), 362);
    EXPECT_EQ(centred_position(1024, 301), 361);
    EXPECT_EQ(centred_position(100, 103), -2);  // a difference of -3
    EXPECT_EQ(centred_position(100, 102), -1);
    EXPECT_EQ(centred_position(100, 100), 0);
}

}  // namespace
