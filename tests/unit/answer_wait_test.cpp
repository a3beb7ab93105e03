// The one wait between a send and the device's answer, on the real clock: what ends it (the
// period, a poll the dialogs want, typed input, Cancel) and that none of them loses the answer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

#include "app/transfer_dialogs.h"
#include "console_capture.h"
#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net_address.h"
#include "platform/posix/console_dialogs.h"
#include "platform/posix/console_input.h"
#include "test_support.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_session.h"
#include "udp_test_peer.h"

namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001u;
constexpr int PACKET_WAIT_MS = 3000;

// Passes every event on to the program's dialogs or, without them, only counts; its polls are
// counted either way, and it may ask for a poll every due_ms.
struct PollCounter final : TftpEvents {
    void waiting(bool) override {}
    void waiting_poll(int) override {}
    void request_accepted() override {}
    void transfer_started(const TftpSession& s) override {
        if (dialogs) dialogs->transfer_started(s);
    }
    void block_acknowledged(const TftpSession& s) override {
        if (dialogs) dialogs->block_acknowledged(s);
    }
    void transfer_poll() override {
        ++polls;
        if (dialogs) dialogs->transfer_poll();
    }
    std::uint32_t transfer_poll_due_ms() override { return due_ms; }
    void transfer_ended(const TftpSession&, TransferOutcome) override {}
    void fail(const char*) override {}

    TftpEvents* dialogs = nullptr;
    std::uint32_t due_ms = NO_POLL_DUE;
    std::atomic<int> polls{0};
};

// Answers every packet but the first `unanswered` sends of the OACK; before the OACK it answers,
// before_answer runs.
void play_device(UdpTestPeer& peer, std::uint16_t server_port, int unanswered,
                 const std::function<void()>& before_answer) {
    UdpDatagram datagram;
    int oacks = 0;
    while (peer.receive(&datagram, PACKET_WAIT_MS)) {
        bool oack = tftp_opcode(datagram) == TFTP_OPCODE_OACK;
        if (oack && ++oacks <= unanswered) continue;
        if (oack && before_answer) before_answer();
        peer.send(server_port, tftp_ack(oack ? 0 : tftp_block(datagram)));
        if (!oack && datagram.bytes.size() < TFTP_HEADER_SIZE + TFTP_BLOCK_SIZE) return;
    }
}

class AnswerWait : public ::testing::Test {
protected:
    void SetUp() override {
        upgrade_state.stage = STAGE_TARGET;
        std::strcpy(upgrade_state.device_ip_text, "127.0.0.2");
        clock_substitute(nullptr);
        keep_trace();
        server = net_udp_socket();
        NetAddress address;
        fill_sockaddr(LOOPBACK, 0, &address);
        ASSERT_TRUE(net_bind(server, address));
        ASSERT_TRUE(net_local_address(server, &address));
        std::uint32_t ignored = 0;
        read_sockaddr(address, &ignored, &server_port);
    }
    void TearDown() override {
        dialog_destroy(upgrade_state.upload_dialog);
        upgrade_state.upload_dialog = nullptr;
        net_close(server);
        stop_keeping_trace();
    }

    TransferOutcome transfer(std::uint32_t size, TftpEvents& events, std::function<void()> device) {
        image.assign(size, 0x5A);
        TftpSession session{};
        session.socket = server;
        session.peer_ip = LOOPBACK;
        session.peer_port = peer.port();
        size_tftp_session(&session, size);
        std::thread device_thread(std::move(device));
        TransferOutcome outcome = transfer_image(&session, image.data(), events);
        device_thread.join();
        return outcome;
    }

    NetSocket server = NET_INVALID_SOCKET;
    std::uint16_t server_port = 0;
    UdpTestPeer peer;
    std::vector<std::uint8_t> image;
};

// The silence before the device answers lasts two periods (100 and 200 ms). Waiting only for the
// period, the session polls at each end of one; asked for a poll every 5 ms, it polls dozens of
// times. Input at its end of file wakes a wait once at most.
TEST_F(AnswerWait, AWaitEndsWithItsPeriodOrWhenTheEventsWantAPoll) {
    struct Row {
        std::uint32_t due_ms;
        int fewest_polls, most_polls;
    } rows[] = {{TftpEvents::NO_POLL_DUE, 2, 5}, {5, 12, 1000}};
    for (const Row& row : rows) {
        ConsoleCapture console("");
        PollCounter events;
        events.due_ms = row.due_ms;
        clear_kept_trace();
        TransferOutcome outcome =
            transfer(1100, events, [&] { play_device(peer, server_port, 2, {}); });

        EXPECT_EQ(outcome, TransferOutcome::COMPLETE) << row.due_ms;
        EXPECT_GE(occurrences(kept_trace(), "ReSend option ack\n"), 2) << row.due_ms;
        EXPECT_GE(events.polls.load(), row.fewest_polls) << row.due_ms;
        EXPECT_LE(events.polls.load(), row.most_polls) << row.due_ms;
    }
}

// A line typed while the session waits in a long period (the fifth, 1000 ms) wakes it for the
// dialog at once; the period goes on, and the answer that follows is taken.
TEST_F(AnswerWait, InputBeforeTheAnswerIsServedWithoutEndingThePeriod) {
    ConsoleCapture console("", true);
    PollCounter events;
    events.dialogs = &transfer_dialogs();
    bool woke_for_input = false;
    TransferOutcome outcome = transfer(1100, events, [&] {
        play_device(peer, server_port, 4, [&] {
            int polls = events.polls.load();
            console.type("not a cancel\n");
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
            while (!woke_for_input && std::chrono::steady_clock::now() < deadline) {
                woke_for_input = events.polls.load() > polls;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_TRUE(woke_for_input);
    EXPECT_EQ(occurrences(kept_trace(), "ReSend option ack\n"), 4);
    EXPECT_EQ(occurrences(kept_trace(), "ReSend block"), 0);
    std::string line;
    EXPECT_EQ(console_read_line(&line, false), InputResult::LINE);  // kept for a question
    EXPECT_EQ(line, "not a cancel");
}

// Cancel typed at the start of the 1000 ms period ends the upload long before that period would;
// a session that waited it out would meet the test's own end first (status 3).
void cancel_in_a_long_period() {
    NetSocket server = net_udp_socket();
    NetAddress address;
    fill_sockaddr(LOOPBACK, 0, &address);
    net_bind(server, address);
    net_local_address(server, &address);
    std::uint32_t ignored = 0;
    std::uint16_t server_port = 0;
    read_sockaddr(address, &ignored, &server_port);
    ConsoleCapture console("", true);
    console_output_use(stderr);  // the box, for the death test to read
    UdpTestPeer peer;
    std::thread device([&] {
        UdpDatagram datagram;
        for (int oacks = 0; oacks < 5;) oacks += peer.receive(&datagram, PACKET_WAIT_MS) ? 1 : 5;
        console.type("cancel\n\n");  // Cancel, then OK in the box
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        _exit(3);
    });
    device.detach();
    std::vector<std::uint8_t> image(1100, 0x5A);
    TftpSession session{};
    session.socket = server;
    session.peer_ip = LOOPBACK;
    session.peer_port = peer.port();
    size_tftp_session(&session, 1100);
    transfer_image(&session, image.data(), transfer_dialogs());
    _exit(4);
}

TEST(AnswerWaitCancel, CancelDuringTheWaitEndsTheUploadAtOnce) {
    EXPECT_EXIT(cancel_in_a_long_period(), ::testing::ExitedWithCode(1),
                "Upgrade Failed: User Abort");
}

// A count held back is due when the redraw interval has passed since the last count shown.
TEST(AnswerWaitRedraw, AHeldBackCountIsDueAfterTheInterval) {
    static std::atomic<std::uint32_t> now{5000};
    clock_substitute([] { return now.load(); });
    ConsoleCapture console("");
    std::strcpy(upgrade_state.device_ip_text, "127.0.0.2");
    TftpSession session{};
    size_tftp_session(&session, 4000);
    TftpEvents& dialogs = transfer_dialogs();
    dialogs.transfer_started(session);
    struct Step {
        std::uint32_t at_ms;
        bool acknowledge;
        std::uint32_t due_ms;
    } steps[] = {{5000, true, TftpEvents::NO_POLL_DUE},  // the first count shows at once
                 {5010, true, 30},                        // the next is held back
                 {5025, false, 15},
                 {5040, false, 0},
                 {5041, false, 0}};
    for (const Step& step : steps) {
        now = step.at_ms;
        if (step.acknowledge) {
            session.current_block += 1;
            dialogs.block_acknowledged(session);
        }
        EXPECT_EQ(dialogs.transfer_poll_due_ms(), step.due_ms) << step.at_ms;
    }
    dialogs.transfer_poll();  // shows the count held back
    EXPECT_EQ(dialogs.transfer_poll_due_ms(), TftpEvents::NO_POLL_DUE);
    dialog_destroy(upgrade_state.upload_dialog);
    upgrade_state.upload_dialog = nullptr;
    clock_substitute(nullptr);
}

}  // namespace
