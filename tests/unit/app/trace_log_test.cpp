// The support log: how trace text becomes stamped lines, and the file written by several threads
// at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/trace_log.h"
#include "core/trace.h"
#include "platform/clock.h"

namespace {

TEST(LogLines, EachLineOfACallGetsThePrefixAndControlBytesAreShown) {
    struct Case {
        std::string text, lines;
    };
    const Case cases[] = {
        {"Send block 1 (512)\n", "P Send block 1 (512)\n"},
        // A call that does not end its line ends it all the same.
        {"HTTP 7f000001:23456 to 7f000002:80", "P HTTP 7f000001:23456 to 7f000002:80\n"},
        // An HTTP answer: CR LF pairs become lines, the empty line between head and body stays.
        {"HTTP/1.1 200 OK\r\nA: b\r\n\r\n<html>", "P HTTP/1.1 200 OK\nP A: b\nP \nP <html>\n"},
        // Binary garbage cannot break the file into false lines or hide in it.
        {std::string("x\x01y\x1b[2Jz\rq\x7f\tt\n", 14), "P x\\x01y\\x1B[2Jz\\x0Dq\\x7F\tt\n"},
        {"\n", ""},
        {"", ""},
        {"a\n\nb\n", "P a\nP \nP b\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format_log_lines("P ", c.text.data(), c.text.size()), c.lines) << c.text;
    }
}

std::uint32_t fake_now = 0;
std::uint32_t fake_clock() { return fake_now; }

class SupportLog : public ::testing::Test {
protected:
    void SetUp() override {
        // A name of this process's own: test runs of other trees share the folder.
        path = ::testing::TempDir() + "tev-support-log-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "." +
               std::to_string(getpid()) + ".log";
        std::remove(path.c_str());
    }
    void TearDown() override {
        trace_log_close();
        clock_substitute(nullptr);
        trace_name_thread(nullptr);
        std::remove(path.c_str());
    }
    std::vector<std::string> lines() {
        std::ifstream file(path);
        std::vector<std::string> out;
        for (std::string line; std::getline(file, line);) out.push_back(line);
        return out;
    }
    std::string path;
};

TEST_F(SupportLog, LinesCarryTheTimeSinceOpeningAndTheThreadAndReachTheFileAtOnce) {
    {
        std::ofstream old(path);
        old << "a line of an earlier run\n";
    }
    fake_now = 5000;
    clock_substitute(fake_clock);
    char reason[64] = "";
    ASSERT_TRUE(trace_log_open(path.c_str(), reason, sizeof reason));
    EXPECT_TRUE(trace_enabled());
    trace_name_thread("main");
    fake_now = 5250;
    trace("Client IP = %x\n", 0x100007fu);
    // On disk before anything closes or flushes the file.
    EXPECT_EQ(lines(), std::vector<std::string>{"     250 ms main     Client IP = 100007f"});
    fake_now = 5000 + 1234567;
    trace("recv done\n");
    trace_name_thread(nullptr);
    trace("x");
    trace_log_close();
    EXPECT_FALSE(trace_enabled());
    trace("after the close\n");
    std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1], " 1234567 ms main     recv done");
    EXPECT_TRUE(std::regex_match(got[2], std::regex(" 1234567 ms thread-[0-9]+ x"))) << got[2];
}

TEST_F(SupportLog, ThreadsWritingAtOnceLeaveWholeLinesInTheirOwnOrder) {
    char reason[64] = "";
    ASSERT_TRUE(trace_log_open(path.c_str(), reason, sizeof reason));
    constexpr int LINES = 300;
    const char* const names[] = {"main", "request", "listener"};
    std::vector<std::thread> threads;
    for (const char* name : names) {
        threads.emplace_back([name] {
            trace_name_thread(name);
            // A long line and a two-line call, as the HTTP traces write them.
            std::string long_text(600, name[0]);
            for (int i = 0; i < LINES; ++i) {
                trace("%s %d %s\n", name, i, long_text.c_str());
                trace("%s %d head\r\n%s %d body", name, i, name, i);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    trace_log_close();

    std::map<std::string, std::vector<std::string>> by_thread;
    std::regex shape(" *([0-9]+) ms (main|request|listener) +(.*)");
    unsigned long last_ms = 0;
    for (const std::string& line : lines()) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line.substr(0, 80);
        // The file's order is the order of the stamps.
        unsigned long ms = std::stoul(match[1]);
        EXPECT_GE(ms, last_ms) << line.substr(0, 80);
        last_ms = ms;
        by_thread[match[2]].push_back(match[3]);
    }
    for (const char* name : names) {
        const std::vector<std::string>& got = by_thread[name];
        ASSERT_EQ(got.size(), 3u * LINES) << name;
        std::string long_text(600, name[0]);
        for (int i = 0; i < LINES; ++i) {
            std::string n = std::string(name) + " " + std::to_string(i);
            EXPECT_EQ(got[3 * i], n + " " + long_text);
            EXPECT_EQ(got[3 * i + 1], n + " head");
            EXPECT_EQ(got[3 * i + 2], n + " body");
        }
    }
}

}  // namespace
