// The one wait between a send and the device's answer, on the real clock: what ends it (the
// period, a poll the dialogs want, typed input, Cancel) and that none of them loses the answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "app/transfer_dialogs.h"
#include "console/console_input.h"
#include "console/console_output.h"
#include "console_capture.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net_address.h"
#include "test_support.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_session.h"
#include "udp_test_peer.h"

namespace {

// Counts the polls, passes the transfer on to the program's dialogs if given, and may ask for a
// poll every due_ms.
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

// Serves 1100 bytes on loopback to a device that lets the first `unanswered` OACKs go by and runs
// before_answer before it answers the next; every block after is answered at once.
TransferOutcome serve(TftpEvents& events, int unanswered,
                      const std::function<void()>& before_answer) {
    upgrade_state.stage = STAGE_TARGET;
    std::strcpy(upgrade_state.device_ip_text, "127.0.0.2");
    NetSocket server = net_udp_socket();
    NetAddress address;
    fill_sockaddr(0x7F000001u, 0, &address);
    net_bind(server, address);
    net_local_address(server, &address);
    UdpTestPeer peer;
    TftpSession session{};
    session.socket = server;
    session.peer_ip = 0x7F000001u;
    session.peer_port = peer.port();
    std::uint16_t server_port = net_ntohs(address.port_be);
    size_tftp_session(&session, 1100);
    std::thread device([&] {
        UdpDatagram datagram;
        for (int oacks = 0; peer.receive(&datagram, 3000);) {
            bool oack = tftp_opcode(datagram) == TFTP_OPCODE_OACK;
            if (oack && ++oacks <= unanswered) continue;
            if (oack && before_answer) before_answer();
            peer.send(server_port, tftp_ack(oack ? 0 : tftp_block(datagram)));
            if (!oack && datagram.bytes.size() < TFTP_HEADER_SIZE + TFTP_BLOCK_SIZE) return;
        }
    });
    std::vector<std::uint8_t> image(1100, 0x5A);
    TransferOutcome outcome = transfer_image(&session, image.data(), events);
    device.join();
    dialog_destroy(upgrade_state.upload_dialog);
    upgrade_state.upload_dialog = nullptr;
    net_close(server);
    return outcome;
}

// Two silent periods (100 and 200 ms) before the answer: waiting for the period alone, the session
// polls at their ends (and once for the input's end of file); asked every 5 ms, dozens of times.
TEST(AnswerWait, AWaitEndsWithItsPeriodOrWhenTheEventsWantAPoll) {
    struct Row {
        std::uint32_t due_ms;
        int fewest, most;
    } rows[] = {{TftpEvents::NO_POLL_DUE, 2, 5}, {5, 12, 1000}};
    for (const Row& row : rows) {
        ConsoleCapture console("");
        PollCounter events;
        events.due_ms = row.due_ms;
        EXPECT_EQ(serve(events, 2, {}), TransferOutcome::COMPLETE);
        EXPECT_GE(events.polls.load(), row.fewest) << row.due_ms;
        EXPECT_LE(events.polls.load(), row.most) << row.due_ms;
    }
}

// A line typed in the fifth period (1000 ms) wakes the session for the dialog at once; the period
// goes on, the answer that follows is taken, and the line stays for a question.
TEST(AnswerWait, InputBeforeTheAnswerIsServedWithoutEndingThePeriod) {
    ConsoleCapture console("", true);
    PollCounter events;
    events.dialogs = &transfer_dialogs();
    keep_trace();
    bool woke = false;
    TransferOutcome outcome = serve(events, 4, [&] {
        int polls = events.polls.load();
        console.type("not a cancel\n");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
        while (!(woke = events.polls.load() > polls) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    stop_keeping_trace();

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_TRUE(woke);
    EXPECT_EQ(occurrences(kept_trace(), "ReSend"), 4);
    std::string line;
    EXPECT_EQ(console_read_line(&line, false), InputResult::LINE);
    EXPECT_EQ(line, "not a cancel");
}

// Cancel typed as the 1000 ms period starts ends the upload long before the period would; a
// session that waited it out would meet the test's own end first (status 3).
TEST(AnswerWait, CancelDuringTheWaitEndsTheUploadAtOnce) {
    auto cancel_in_a_long_period = [] {
        ConsoleCapture console("", true);
        console_output_use(stderr);  // the box, for the death test to read
        serve(transfer_dialogs(), 4, [&] {
            console.type("cancel\n\n");  // Cancel, then OK in the box
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            _exit(3);
        });
    };
    EXPECT_EXIT(cancel_in_a_long_period(), ::testing::ExitedWithCode(1),
                "Upgrade Failed: User Abort");
}

// A count held back is due when the redraw interval has passed since the last count shown.
TEST(AnswerWait, AHeldBackCountIsDueAfterTheInterval) {
    static std::atomic<std::uint32_t> now{5000};
    clock_substitute([] { return now.load(); });
    ConsoleCapture console("");
    TftpSession session{};
    size_tftp_session(&session, 4000);
    TftpEvents& dialogs = transfer_dialogs();
    dialogs.transfer_started(session);
    // The first count shows at once, the next is held back, and due as the interval ends.
    const std::uint32_t times[] = {5000, 5010, 5025, 5041};
    const std::uint32_t due[] = {TftpEvents::NO_POLL_DUE, 30, 15, 0};
    for (int i = 0; i < 4; ++i) {
        now = times[i];
        if (i < 2) {
            session.current_block += 1;
            dialogs.block_acknowledged(session);
        }
        EXPECT_EQ(dialogs.transfer_poll_due_ms(), due[i]) << times[i];
    }
    dialogs.transfer_poll();  // shows it
    EXPECT_EQ(dialogs.transfer_poll_due_ms(), TftpEvents::NO_POLL_DUE);
    dialog_destroy(upgrade_state.upload_dialog);
    upgrade_state.upload_dialog = nullptr;
    clock_substitute(nullptr);
}

}  // namespace
