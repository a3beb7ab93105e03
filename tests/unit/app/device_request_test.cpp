// The device request runner against a scripted web server on loopback: what it returns, when a
// refused request is sent again without asking, when the password dialog is shown, and a worker
// whose result is the platform's still-active code.
#include "app/device_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console_capture.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "platform/threads.h"
#include "test_support.h"

namespace {

constexpr const char* PASSWORD_DIALOG = "== Enter Password Information ==";
// The password dialog answered: user name kept ("admin"), password "pw", OK.
constexpr const char* ANSWER_PASSWORD = "\npw\n\n";

std::string challenge(const std::string& nonce) {
    return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"TEV\", nonce=\"" + nonce +
           "\", qop=\"auth\"\r\n\r\n";
}
const std::string PAGE =
    "HTTP/1.1 200 OK\r\n\r\n<tr><td>Software Version:</td><td>3.2.9(b)</td></tr>\n";

bool carries(const ReceivedRequest& request, const std::string& part) {
    return request.text.find(part) != std::string::npos;
}

class DeviceRequest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
        std::strcpy(upgrade_state.device_ip_text, "127.0.0.1");
    }
    void TearDown() override { console.reset(); }

    std::int32_t run(std::uint16_t device_port, const std::string& typed) {
        console = std::make_unique<ConsoleCapture>(typed);
        return run_device_request(nullptr, LOOPBACK, free_local_port(), LOOPBACK, device_port,
                                  "/admin/advanced", upgrade_state.response_buffer,
                                  RESPONSE_LIMIT);
    }
    int password_dialogs() { return occurrences(console->printed(), PASSWORD_DIALOG); }

    // Credentials the device has accepted under nonce, with a user name the dialog would not give.
    static void credentials_in_use(const char* nonce) {
        DigestAuthState& auth = upgrade_state.auth;
        std::strcpy(auth.user_name, "olduser");
        std::strcpy(auth.password, "oldpw");
        std::strcpy(auth.realm, "TEV");
        std::strcpy(auth.qop, "auth");
        std::strcpy(auth.cnonce, "1a2b");
        std::strcpy(auth.nonce, nonce);
        std::strcpy(auth.previous_nonce, nonce);
        auth.nonce_count = 1;
    }

    std::unique_ptr<ConsoleCapture> console;
};

TEST_F(DeviceRequest, NoAnswerIsReturnedAsZeroWithoutAQuestion) {
    RefusingPort refusing;
    EXPECT_EQ(run(refusing.port(), ""), 0);
    EXPECT_EQ(password_dialogs(), 0);
}

TEST_F(DeviceRequest, AnAnswerOfExactly259BytesIsReturnedAsSuch) {
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    answer += std::string(259 - answer.size(), 'x');
    HttpTestServer server({answer});
    EXPECT_EQ(run(server.port(), ""), 259);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(DeviceRequest, WithoutAPasswordTheFirstRefusalAsks) {
    HttpTestServer server({challenge("nonce-a"), PAGE});
    EXPECT_EQ(run(server.port(), ANSWER_PASSWORD), static_cast<std::int32_t>(PAGE.size()));
    EXPECT_EQ(password_dialogs(), 1);
    const auto& requests = server.stop();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(carries(requests[0], "Authorization:"));
    EXPECT_TRUE(carries(requests[1], "username=\"admin\""));
    EXPECT_TRUE(carries(requests[1], "nonce=\"nonce-a\""));
    EXPECT_TRUE(carries(requests[1], "nc=000000001"));
}

TEST_F(DeviceRequest, ANewNonceIsAnsweredOnceWithoutAsking) {
    credentials_in_use("nonce-a");
    HttpTestServer server({challenge("nonce-b"), PAGE});
    EXPECT_EQ(run(server.port(), ""), static_cast<std::int32_t>(PAGE.size()));
    EXPECT_EQ(password_dialogs(), 0);
    const auto& requests = server.stop();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(carries(requests[0], "nonce=\"nonce-a\""));
    EXPECT_TRUE(carries(requests[1], "username=\"olduser\""));
    EXPECT_TRUE(carries(requests[1], "nonce=\"nonce-b\""));
    EXPECT_TRUE(carries(requests[1], "nc=000000001"));
}

TEST_F(DeviceRequest, TwoNewNoncesInARowGiveOneResendAndThenTheDialog) {
    credentials_in_use("nonce-a");
    HttpTestServer server({challenge("nonce-b"), challenge("nonce-c"), PAGE});
    EXPECT_EQ(run(server.port(), ANSWER_PASSWORD), static_cast<std::int32_t>(PAGE.size()));
    EXPECT_EQ(password_dialogs(), 1);
    const auto& requests = server.stop();
    ASSERT_EQ(requests.size(), 3u);
    // The re-send carries the stored credentials; only the third, after the dialog, its answer.
    EXPECT_TRUE(carries(requests[1], "username=\"olduser\""));
    EXPECT_TRUE(carries(requests[1], "nonce=\"nonce-b\""));
    EXPECT_TRUE(carries(requests[2], "username=\"admin\""));
    EXPECT_TRUE(carries(requests[2], "nonce=\"nonce-c\""));
}

TEST_F(DeviceRequest, TheSameNonceAgainAsksAtOnce) {
    credentials_in_use("nonce-a");
    HttpTestServer server({challenge("nonce-a"), PAGE});
    EXPECT_EQ(run(server.port(), ANSWER_PASSWORD), static_cast<std::int32_t>(PAGE.size()));
    EXPECT_EQ(password_dialogs(), 1);
    const auto& requests = server.stop();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(carries(requests[1], "username=\"admin\""));
    EXPECT_TRUE(carries(requests[1], "nc=000000003"));
}

TEST_F(DeviceRequest, AnEmptyPasswordSendsNoCredentialsAndAsksAgain) {
    HttpTestServer server({challenge("nonce-a"), challenge("nonce-a"), PAGE});
    EXPECT_EQ(run(server.port(), std::string("\n\n\n") + ANSWER_PASSWORD),
              static_cast<std::int32_t>(PAGE.size()));
    EXPECT_EQ(password_dialogs(), 2);
    const auto& requests = server.stop();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(carries(requests[1], "Authorization:"));
    EXPECT_TRUE(carries(requests[2], "username=\"admin\""));
}

TEST_F(DeviceRequest, ARequestFromAnotherThreadEndsTheEarlierExchangeFirst) {
    // The upgrade command's answer without a length, on a connection the server keeps open: its
    // exchange waits for a close that does not come, as the queries after the flash begin.
    const std::string started = "HTTP/1.1 200 OK\r\n\r\nFirmware upgrade started.";
    HttpTestServer command_server({started}, AfterAnswer::HOLD);
    HttpTestServer query_server({PAGE});
    console = std::make_unique<ConsoleCapture>("", true);
    keep_trace();
    std::int32_t command_result = -7;
    std::thread main_thread([&] {
        command_result = run_device_request(nullptr, LOOPBACK, free_local_port(), LOOPBACK,
                                            command_server.port(), "/admin/upgrade?tftp://x",
                                            upgrade_state.response_buffer, RESPONSE_LIMIT);
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (command_server.answers_sent() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(command_server.answers_sent(), 1);

    EXPECT_EQ(run_device_request(nullptr, LOOPBACK, free_local_port(), LOOPBACK, query_server.port(),
                                 "/admin/advanced", upgrade_state.response_buffer, RESPONSE_LIMIT),
              static_cast<std::int32_t>(PAGE.size()));
    main_thread.join();
    std::string traced = kept_trace();
    stop_keeping_trace();
    // The earlier exchange ended, with what it had received, before the second one connected.
    EXPECT_GE(command_result, 0);
    EXPECT_LE(command_result, static_cast<std::int32_t>(started.size()));
    // Whether or not its answer had been read by then.
    std::size_t ended = traced.find("another request to the device ended the exchange");
    std::size_t connecting = traced.find("to 127.0.0.1:" + std::to_string(query_server.port()) + "\n");
    ASSERT_NE(ended, std::string::npos) << traced;
    ASSERT_NE(connecting, std::string::npos) << traced;
    EXPECT_LT(ended, connecting) << traced;
    ASSERT_EQ(command_server.requests().size(), 1u);
    EXPECT_GT(command_server.requests()[0].client_closed_step, 0u);
    EXPECT_STREQ(upgrade_state.device_info.software_version, "3.2.9(b)");
}

std::atomic<bool> release_worker{false};

std::int32_t returns_259_when_released(void*) {
    while (!release_worker) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 259;
}

TEST(WorkerThreads, AWorkerThatReturns259HasFinished) {
    ThreadState* worker = thread_start(returns_259_when_released, nullptr);
    ASSERT_NE(worker, nullptr);
    std::int32_t result = -7;
    EXPECT_FALSE(thread_finished(worker, &result));
    EXPECT_EQ(result, -7);
    release_worker = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool finished = false;
    while (!finished && std::chrono::steady_clock::now() < deadline) {
        finished = thread_finished(worker, &result);
        if (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(finished);
    EXPECT_EQ(result, 259);
    thread_release(worker);
}

}  // namespace
