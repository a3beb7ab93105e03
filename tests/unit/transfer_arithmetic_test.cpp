// Sizes of a transfer and the wait's tick arithmetic.
#include <gtest/gtest.h>

#include "app/post_transfer.h"
#include "tftp/tftp_session.h"

namespace {

TEST(TransferSizes, FinalBlockIsAlwaysShorterThan512) {
    TftpSession session{};
    size_tftp_session(&session, 948814);
    EXPECT_EQ(session.block_count, 1854u);
    EXPECT_EQ(session.last_block_size, 78u);
    size_tftp_session(&session, 1024);
    EXPECT_EQ(session.block_count, 3u);
    EXPECT_EQ(session.last_block_size, 0u);
    size_tftp_session(&session, 0);
    EXPECT_EQ(session.block_count, 1u);
    EXPECT_EQ(session.last_block_size, 0u);
    size_tftp_session(&session, 33553919);
    EXPECT_EQ(session.block_count, 65535u);
    EXPECT_EQ(session.last_block_size, 511u);
}

TEST(FlashWait, TicksCountAcrossTheWrapOfTheTickCounter) {
    EXPECT_EQ(ticks_since(100, 1037), 937u);
    EXPECT_EQ(ticks_since(TICK_WRAP - 10, 5), 15u);
    // The millisecond clock wraps at 2^32 ms, which is where 27-bit ticks wrap.
    std::uint32_t before_wrap = 0xFFFFFFF0u >> TICK_SHIFT;
    std::uint32_t after_wrap = (0xFFFFFFF0u + 937u * 32u) >> TICK_SHIFT;
    EXPECT_EQ(ticks_since(before_wrap, after_wrap), 937u);
}

}  // namespace
