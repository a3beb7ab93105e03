// The process-wide pseudo-random generator: the C runtime's sequence from a seed, and draws from
// several threads at once that each take a step of that one sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace {

TEST(RandomGenerator, FollowsTheRuntimeSequenceInRange) {
    // The first draws of the Microsoft C runtime after srand(1) and srand(12345).
    random_seed(1);
    EXPECT_EQ(random_next(), 41);
    EXPECT_EQ(random_next(), 18467);
    EXPECT_EQ(random_next(), 6334);
    random_seed(12345);
    int lowest = RANDOM_MAX, highest = 0;
    for (int i = 0; i < 100000; ++i) {
        int value = random_next();
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    EXPECT_GE(lowest, 0);
    EXPECT_LE(highest, RANDOM_MAX);
    EXPECT_GT(highest, RANDOM_MAX - 100);
}

TEST(RandomGenerator, ThreadsShareOneSequence) {
    constexpr int THREADS = 4;
    constexpr int DRAWS = 20000;
    random_seed(777);
    std::vector<int> sequential(THREADS * DRAWS);
    for (int& value : sequential) value = random_next();

    random_seed(777);
    std::vector<std::vector<int>> drawn(THREADS, std::vector<int>(DRAWS));
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&drawn, t] {
            for (int& value : drawn[t]) value = random_next();
        });
    }
    for (std::thread& thread : threads) thread.join();
    // No thread starts a sequence of its own, and no step is lost or taken twice: together the
    // threads drew exactly the sequence.
    std::vector<int> together;
    for (const std::vector<int>& part : drawn) {
        together.insert(together.end(), part.begin(), part.end());
    }
    std::sort(together.begin(), together.end());
    std::sort(sequential.begin(), sequential.end());
    EXPECT_EQ(together, sequential);
}

}  // namespace
