// The limit of open files made room for: the soft limit raised within the hard one, never
// lowered, and a need past the hard limit refused with the numbers.
#include "platform/open_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

namespace {

struct SoftLimitKept {
    SoftLimitKept() { getrlimit(RLIMIT_NOFILE, &saved); }
    ~SoftLimitKept() { setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved{};
};

rlim_t soft_limit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

TEST(OpenFiles, TheSoftLimitIsRaisedWithinTheHardOneAndNeverLowered) {
    SoftLimitKept kept;
    const rlim_t hard = kept.saved.rlim_max;
    ASSERT_GE(hard, 300u) << "the hard limit leaves no room for the cases";
    struct Case {
        rlim_t soft_before;
        long needed;
        rlim_t soft_after;
    } cases[] = {
        {128, 200, 200},                             // raised to what is needed
        {256, 200, 256},                             // already enough: left alone, not lowered
        {128, static_cast<long>(hard), hard},        // up to the hard limit itself
    };
    for (const Case& c : cases) {
        rlimit limit{c.soft_before, hard};
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
        char problem[160] = "";
        EXPECT_TRUE(open_files_allow(c.needed, problem, sizeof problem)) << c.needed;
        EXPECT_EQ(soft_limit(), c.soft_after) << c.needed;
        EXPECT_STREQ(problem, "");
    }

    rlimit limit{128, hard};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    char problem[160] = "";
    long past = static_cast<long>(hard) + 1;
    EXPECT_FALSE(open_files_allow(past, problem, sizeof problem));
    EXPECT_EQ(std::string(problem), std::to_string(past) + " open files needed, but the hard limit is " +
                                        std::to_string(hard) + " (ulimit -Hn)");
    EXPECT_EQ(soft_limit(), 128u);
}

}  // namespace
