// Sizes of a transfer, when the session looks for an answer before it waits, and the wait's tick
// arithmetic.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The sends, of 0 .. sends - 1, whose answer is looked for first; the looks find what `finds`
// says in turn ('f' the answer, 'e' nothing), and nothing once it runs out.
std::vector<int> looked_sends(const std::string& finds, int sends) {
    LookFirst look{};
    std::vector<int> looked;
    std::size_t next = 0;
    for (int send = 0; send < sends; ++send) {
        if (!look_first(&look)) continue;
        looked.push_back(send);
        looked_first(&look, next < finds.size() && finds[next++] == 'f');
    }
    return looked;
}

TEST(LookFirst, LooksWhileAnswersWaitAndBacksOffToEverySixtyFifthSendWhenNoneDo) {
    struct Case {
        const char* what;
        std::string finds;
        int sends;
        std::vector<int> looked;
    };
    const Case cases[] = {
        {"every answer waiting: a look at every send", "ffffff", 6, {0, 1, 2, 3, 4, 5}},
        {"none waiting: 1, 2, 4 ... sends passed over", "", 40, {0, 2, 5, 10, 19, 36}},
        {"passing over stops growing at 64", "", 400,
         {0, 2, 5, 10, 19, 36, 69, 134, 199, 264, 329, 394}},
        {"one find after misses: a look at every send again", "eeef", 14, {0, 2, 5, 10, 11, 13}},
    };
    for (const Case& c : cases) EXPECT_EQ(looked_sends(c.finds, c.sends), c.looked) << c.what;
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
