// The transfer session against a scripted device on loopback: the packets in lock step, the end of
// a transfer, what is ignored, the retry periods and their end, a pause, a lost last
// acknowledgement, and what the upload dialog shows; the socket wait under both precisions; the
// sizes of a transfer and when the session looks for an answer before it waits.
// Where the periods matter the session's clock is substituted: virtual milliseconds that pass as
// the session reads them, or real time sped up, so that 27.5 s of silence take a second or two.
#include "tftp/tftp_session.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/transfer_dialogs.h"
#include "console/dialog_model.h"
#include "console_capture.h"
#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/net_address.h"
#include "process_exit_guard.h"
#include "res/dialog_ids.h"
#include "test_support.h"
#include "tftp/tftp_packets.h"
#include "udp_test_peer.h"

namespace {

constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;
// Generous for a packet on loopback, short against the 30 retry periods of a failing run.
constexpr int PACKET_WAIT_MS = 2000;

// The session's clock in a test, never the real one, so that no block goes again because a loaded
// machine was slow. STEPPED: STEP_MS more at each read by the session (one a poll), so that the
// times of a silent run are exact; standing still while `frozen` (the default: runs in lock step
// never see a period end), and frozen again at a resend when `freeze_at_resend`. SPED_UP: real
// time times SPEED_UP, for runs in which datagrams come faster than polls.
constexpr std::uint32_t STEP_MS = 10;  // divides every retry period
constexpr std::uint32_t SPEED_UP = 20;
struct TestClock {
    enum { STEPPED, SPED_UP } kind = STEPPED;
    std::atomic<std::uint32_t> now{0};
    std::atomic<bool> frozen{false};
    std::atomic<bool> freeze_at_resend{false};
    std::atomic<std::uint32_t> step{STEP_MS};
    std::chrono::steady_clock::time_point start;
};
TestClock test_clock;

std::uint32_t read_test_clock() {
    if (test_clock.kind == TestClock::SPED_UP) {
        auto real = std::chrono::steady_clock::now() - test_clock.start;
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(real).count() * SPEED_UP);
    }
    if (test_clock.frozen) return test_clock.now;
    return test_clock.now += test_clock.step;
}

// The trace, and the test clock's time at each retransmission and at the end of the retries.
std::string traced;
std::vector<std::uint32_t> retry_times;
void keep_trace_and_retry_times(const char* format, va_list arguments) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    traced += text;
    std::string line = text;
    if (line.rfind("ReSend", 0) == 0 && test_clock.freeze_at_resend) test_clock.frozen = true;
    if (line.rfind("ReSend", 0) == 0 || line.rfind("Timeout", 0) == 0) {
        retry_times.push_back(test_clock.kind == TestClock::STEPPED ? test_clock.now.load()
                                                                    : clock_ms());
    }
}

std::vector<std::uint8_t> patterned_image(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
    return image;
}

std::vector<std::uint8_t> oack_for(std::uint32_t size) {
    std::uint8_t buffer[64];
    std::size_t length = build_tftp_oack(buffer, size);
    return std::vector<std::uint8_t>(buffer, buffer + length);
}

std::vector<std::uint8_t> payload(const UdpDatagram& data) {
    return std::vector<std::uint8_t>(data.bytes.begin() + TFTP_HEADER_SIZE, data.bytes.end());
}

// A device that does everything right: acknowledges the OACK and every DATA block until the short
// block that ends the transfer. Returns every datagram it received, in order.
std::vector<UdpDatagram> acknowledge_every_block(UdpTestPeer& peer, std::uint16_t server_port) {
    std::vector<UdpDatagram> seen;
    UdpDatagram datagram;
    while (peer.receive(&datagram, PACKET_WAIT_MS)) {
        seen.push_back(datagram);
        if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) peer.send(server_port, tftp_ack(0));
        if (tftp_opcode(datagram) != TFTP_OPCODE_DATA) continue;
        peer.send(server_port, tftp_ack(tftp_block(datagram)));
        if (datagram.bytes.size() < TFTP_HEADER_SIZE + TFTP_BLOCK_SIZE) break;
    }
    return seen;
}

class TftpSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        upgrade_state.stage = STAGE_TARGET;
        std::strcpy(upgrade_state.device_ip_text, "127.0.0.2");
        upgrade_state.upload_dialog = nullptr;
        traced.clear();
        retry_times.clear();
        use_stepped_clock(true);
        test_clock.freeze_at_resend = false;
        trace_set_sink(keep_trace_and_retry_times);
        console = std::make_unique<ConsoleCapture>("");
        server = net_udp_socket();
        ASSERT_NE(server, NET_INVALID_SOCKET);
        NetAddress address;
        fill_sockaddr(LOOPBACK_ADDRESS, 0, &address);
        ASSERT_TRUE(net_bind(server, address));
        ASSERT_TRUE(net_local_address(server, &address));
        std::uint32_t ignored = 0;
        read_sockaddr(address, &ignored, &server_port);
    }
    void TearDown() override {
        if (peer_thread.joinable()) peer_thread.join();
        dialog_destroy(upgrade_state.upload_dialog);
        upgrade_state.upload_dialog = nullptr;
        net_close(server);
        console.reset();
        trace_set_sink(nullptr);
        clock_substitute(nullptr);
    }

    // Runs the transfer of image to the peer while script plays the device on its own thread; once
    // the script is over the clock runs, so that a transfer it left stuck ends.
    TransferOutcome transfer(const std::vector<std::uint8_t>& image, std::function<void()> script,
                             bool without_options = false) {
        session = TftpSession{};
        session.without_options = without_options;
        session.socket = server;
        session.local_ip = LOOPBACK_ADDRESS;
        session.local_port = server_port;
        session.peer_ip = LOOPBACK_ADDRESS;
        session.peer_port = peer.port();
        size_tftp_session(&session, static_cast<std::uint32_t>(image.size()));
        peer_thread = std::thread([script = std::move(script)] {
            script();
            test_clock.frozen = false;
        });
        TransferOutcome outcome = transfer_image(&session, image.data(), *events);
        finished = true;
        peer_thread.join();
        return outcome;
    }

    // Hands every datagram to handler until the transfer has returned and nothing is left.
    void receive_until_finished(const std::function<void(const UdpDatagram&)>& handler) {
        UdpDatagram datagram;
        for (;;) {
            if (peer.receive(&datagram, 20))
                handler(datagram);
            else if (finished)
                return;
        }
    }

    void use_stepped_clock(bool frozen = false) {
        test_clock.kind = TestClock::STEPPED;
        test_clock.step = STEP_MS;
        test_clock.now = 1000;
        test_clock.frozen = frozen;
        clock_substitute(read_test_clock);
    }
    void use_sped_up_clock() {
        test_clock.kind = TestClock::SPED_UP;
        test_clock.start = std::chrono::steady_clock::now();
        clock_substitute(read_test_clock);
    }

    ModelDialog* upload_dialog() { return model_dialog_find(upgrade_state.upload_dialog); }
    ModelControl* upload_bar() { return model_control(upload_dialog(), CONTROL_PROGRESS); }

    ProcessExitGuard exit_guard;
    // The receiver of the transfer's events: the program's dialogs unless a test brings its own.
    TftpEvents* events = &transfer_dialogs();
    std::unique_ptr<ConsoleCapture> console;
    NetSocket server = NET_INVALID_SOCKET;
    std::uint16_t server_port = 0;
    UdpTestPeer peer;
    TftpSession session{};
    std::thread peer_thread;
    std::atomic<bool> finished{false};
};

TEST_F(TftpSessionTest, TheTargetImageGoesOutInLockStepAndTheTitleCountsItsBytes) {
    std::vector<std::uint8_t> image = patterned_image(948814);
    std::vector<UdpDatagram> seen;
    TransferOutcome outcome =
        transfer(image, [&] { seen = acknowledge_every_block(peer, server_port); });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    ASSERT_EQ(seen.size(), 1855u);  // the OACK and 1854 blocks, none sent twice
    EXPECT_EQ(seen[0].bytes, oack_for(948814));
    std::vector<std::uint8_t> received;
    for (std::size_t i = 1; i < seen.size(); ++i) {
        ASSERT_EQ(tftp_opcode(seen[i]), TFTP_OPCODE_DATA);
        ASSERT_EQ(tftp_block(seen[i]), i);
        ASSERT_EQ(seen[i].bytes.size(), i < 1854 ? 516u : 82u) << "block " << i;
        EXPECT_EQ(seen[i].source_port, server_port);
        std::vector<std::uint8_t> part = payload(seen[i]);
        received.insert(received.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(received == image);
    EXPECT_EQ(upload_dialog()->title,
              "Uploading Target Firmware to TEV@127.0.0.2 948814/948814 Bytes");
    EXPECT_EQ(upload_bar()->progress_minimum, 0);
    EXPECT_EQ(upload_bar()->progress_maximum, 1854);
    EXPECT_EQ(upload_bar()->progress_position, 1854);  // full: the bar holds its position in range
    EXPECT_EQ(occurrences(traced, "All blocks ack'd\n"), 1);
    EXPECT_EQ(occurrences(traced, "Send block 1854 (78)\n"), 1);
}

// Passes every event on to the program's dialogs; the first empty poll once the clock has reached
// pause_ends_at keeps what the upload dialog then shows. It runs on the session's own thread, so the
// dialog is read between two of the session's steps, never while it is being drawn.
struct PauseWatcher final : TftpEvents {
    explicit PauseWatcher(std::function<void()> keep) : keep_view(std::move(keep)) {}
    void waiting(bool first) override { dialogs.waiting(first); }
    void waiting_poll(int idle_counter) override { dialogs.waiting_poll(idle_counter); }
    void request_accepted() override { dialogs.request_accepted(); }
    void transfer_started(const TftpSession& session) override { dialogs.transfer_started(session); }
    void block_acknowledged(const TftpSession& session) override {
        dialogs.block_acknowledged(session);
    }
    void transfer_poll() override {
        dialogs.transfer_poll();
        if (clock_ms() >= pause_ends_at && !kept.load()) {
            keep_view();
            kept = true;
        }
    }
    void transfer_ended(const TftpSession& session, TransferOutcome outcome) override {
        dialogs.transfer_ended(session, outcome);
    }
    void fail(const char* message) override { dialogs.fail(message); }

    TftpEvents& dialogs = transfer_dialogs();
    std::function<void()> keep_view;
    std::atomic<std::uint32_t> pause_ends_at{UINT32_MAX};
    std::atomic<bool> kept{false};
};

// Acknowledgements that stream in (here with no time passing) are not all drawn as they come;
// when they pause, the latest count must show once the redraw interval has passed, and the last
// count at once.
TEST_F(TftpSessionTest, ACountHeldBackShowsWhenTheAcknowledgementsPause) {
    use_stepped_clock(true);  // standing still until the test moves it
    std::vector<std::uint8_t> image = patterned_image(2000);  // blocks of 512, 512, 512, 464
    std::string title_in_pause;
    int bar_in_pause = -1;
    PauseWatcher watcher([&] {
        title_in_pause = upload_dialog()->title;
        bar_in_pause = upload_bar()->progress_position;
    });
    events = &watcher;
    TransferOutcome outcome = transfer(image, [&] {
        UdpDatagram datagram;
        for (std::uint32_t block = 0; block <= 2; ++block) {
            if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
            peer.send(server_port, tftp_ack(block));
        }
        // Block 3 unanswered: a second passes for the session, which polls on; the clock then
        // stands still again, so block 3 is sent once more and the polls go on until its ACK.
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        watcher.pause_ends_at = test_clock.now + 1000;
        test_clock.now += 1000;
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PACKET_WAIT_MS);
        while (!watcher.kept && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (std::uint32_t block = 3; block <= 4; ++block) {
            peer.send(server_port, tftp_ack(block));
            if (block < 4 && !peer.receive(&datagram, PACKET_WAIT_MS)) return;
        }
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_EQ(title_in_pause, "Uploading Target Firmware to TEV@127.0.0.2 1024/2000 Bytes");
    EXPECT_EQ(bar_in_pause, 3);
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 2000/2000 Bytes");
    EXPECT_EQ(upload_bar()->progress_position, 4);  // full
}

TEST_F(TftpSessionTest, AnImageOfWholeBlocksEndsWithAnEmptyBlockAndOnlyItsAckCompletes) {
    std::vector<std::uint8_t> image = patterned_image(1024);
    std::vector<UdpDatagram> seen;
    bool finished_before_last_ack = true;
    TransferOutcome outcome = transfer(image, [&] {
        UdpDatagram datagram;
        for (std::uint32_t block = 0; block <= 3; ++block) {
            if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
            seen.push_back(datagram);
            if (block < 3) peer.send(server_port, tftp_ack(block));
            // A duplicate of ACK 0: dropped, and DATA 1 is not sent again for it.
            if (block == 0) peer.send(server_port, tftp_ack(0));
        }
        // The empty block is still outstanding: it comes again after a silent period (the clock
        // runs until that resend).
        test_clock.freeze_at_resend = true;
        test_clock.frozen = false;
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        seen.push_back(datagram);
        finished_before_last_ack = finished;
        peer.send(server_port, tftp_ack(3));
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_FALSE(finished_before_last_ack);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].bytes, oack_for(1024));
    EXPECT_EQ(seen[0].bytes.size(), 23u);
    EXPECT_EQ(seen[1].bytes.size(), 516u);
    EXPECT_EQ(payload(seen[1]), std::vector<std::uint8_t>(image.begin(), image.begin() + 512));
    EXPECT_EQ(seen[2].bytes.size(), 516u);
    EXPECT_EQ(payload(seen[2]), std::vector<std::uint8_t>(image.begin() + 512, image.end()));
    EXPECT_EQ(seen[3].bytes, (std::vector<std::uint8_t>{0, 3, 0, 3}));
    EXPECT_EQ(seen[4].bytes, seen[3].bytes);
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 1024/1024 Bytes");
    EXPECT_EQ(upload_bar()->progress_maximum, 3);
    EXPECT_EQ(upload_bar()->progress_position, 3);  // block 4 is past the range: the bar stands full
    EXPECT_EQ(occurrences(traced, "ReSend block 3\n"), 1);
    EXPECT_EQ(occurrences(traced, "ReSend"), 1);
}

TEST_F(TftpSessionTest, AnEmptyImageIsOneEmptyBlock) {
    std::vector<UdpDatagram> seen;
    TransferOutcome outcome = transfer(std::vector<std::uint8_t>{},
                                       [&] { seen = acknowledge_every_block(peer, server_port); });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].bytes, oack_for(0));
    EXPECT_EQ(seen[0].bytes.size(), 20u);
    EXPECT_EQ(seen[1].bytes, (std::vector<std::uint8_t>{0, 3, 0, 1}));
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 0/0 Bytes");
    EXPECT_EQ(upload_bar()->progress_maximum, 1);
}

TEST_F(TftpSessionTest, DuplicateAcknowledgementsAreNeitherAnsweredNorCounted) {
    // The clock stands still while the device plays: only an answer to a duplicate could bring
    // a block again.
    use_stepped_clock(true);
    std::vector<std::uint8_t> image = patterned_image(1500);
    std::vector<UdpDatagram> seen;
    TransferOutcome outcome = transfer(image, [&] {
        UdpDatagram datagram;
        for (std::uint32_t block = 0; block < 2; ++block) {
            if (!peer.receive(&datagram, PACKET_WAIT_MS)) break;
            peer.send(server_port, tftp_ack(block));
        }
        if (peer.receive(&datagram, PACKET_WAIT_MS)) {
            seen.push_back(datagram);  // DATA 2
            for (int i = 0; i < 120; ++i) peer.send(server_port, tftp_ack(1));
            peer.send(server_port, tftp_ack(2));
            if (peer.receive(&datagram, PACKET_WAIT_MS)) {
                seen.push_back(datagram);
                peer.send(server_port, tftp_ack(tftp_block(datagram)));
            }
        }
        test_clock.frozen = false;  // lets a stuck transfer end
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(tftp_block(seen[0]), 2u);
    EXPECT_EQ(tftp_block(seen[1]), 3u);
    EXPECT_EQ(seen[1].bytes.size(), 4u + 476u);
    EXPECT_EQ(occurrences(traced, "ReSend"), 0);
}

TEST_F(TftpSessionTest, ASilentDeviceGetsTheOptionAcknowledgementThirtyTimesOverGrowingPeriods) {
    use_stepped_clock();
    std::vector<UdpDatagram> seen;
    std::uint32_t start = test_clock.now;
    TransferOutcome outcome = transfer(patterned_image(948814), [&] {
        receive_until_finished([&](const UdpDatagram& datagram) { seen.push_back(datagram); });
    });

    EXPECT_EQ(outcome, TransferOutcome::FAILED);
    ASSERT_EQ(seen.size(), 30u);
    for (const UdpDatagram& datagram : seen) EXPECT_EQ(datagram.bytes, oack_for(948814));
    EXPECT_EQ(occurrences(traced, "ReSend option ack\n"), 29);
    EXPECT_EQ(occurrences(traced, "Timeout for ack; upgrade failed\n"), 1);
    // 29 resends and the end: each period its length, to within one step of the test clock. The
    // first costs a lost packet 100 ms; they double to 1 s; in all more than 25 s of silence.
    ASSERT_EQ(retry_times.size(), 30u);
    const std::uint32_t periods[] = {100, 200, 400, 800, 1000};
    std::uint32_t before = start;
    for (std::size_t i = 0; i < retry_times.size(); ++i) {
        std::uint32_t period = periods[std::min<std::size_t>(i, 4)];
        EXPECT_GE(retry_times[i] - before, period) << "period " << i;
        EXPECT_LE(retry_times[i] - before, period + 2 * STEP_MS) << "period " << i;
        before = retry_times[i];
    }
    EXPECT_GE(retry_times.back() - start, 25000u);
    EXPECT_LE(retry_times.back() - start, 30000u);
}

// A plain RFC 1350 read request: DATA 1 at once, never an OACK; a lost DATA 1 comes again after
// the same silent periods, and the rest goes in lock step.
TEST_F(TftpSessionTest, WithoutOptionsDataOneGoesFirstAndTheRestInLockStep) {
    // The clock runs until a resend and then stands still, so the lock step after the third send
    // of DATA 1 never sees a period end, however slow the machine.
    use_stepped_clock();
    test_clock.freeze_at_resend = true;
    std::vector<std::uint8_t> image = patterned_image(3 * 512 + 10);
    std::vector<UdpDatagram> seen;
    std::vector<std::uint8_t> received;
    TransferOutcome outcome = transfer(
        image,
        [&] {
            receive_until_finished([&](const UdpDatagram& datagram) {
                seen.push_back(datagram);
                if (seen.size() == 2) test_clock.frozen = false;  // on to the third send
                if (seen.size() <= 2) return;  // the first two sends of DATA 1 are lost
                std::vector<std::uint8_t> part = payload(datagram);
                received.insert(received.end(), part.begin(), part.end());
                peer.send(server_port, tftp_ack(tftp_block(datagram)));
            });
        },
        true);

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    ASSERT_EQ(seen.size(), 6u);  // DATA 1 three times, then 2, 3 and 4 once each
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(tftp_opcode(seen[i]), TFTP_OPCODE_DATA) << i;
        EXPECT_EQ(tftp_block(seen[i]), i < 3 ? 1u : i - 1) << i;
    }
    EXPECT_TRUE(received == image);
    EXPECT_EQ(occurrences(traced, "Read request without options: no OACK, DATA 1 first\n"), 1);
    EXPECT_EQ(occurrences(traced, "ReSend block 1\n"), 2);
    EXPECT_EQ(occurrences(traced, "option ack"), 0);
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 1546/1546 Bytes");
}

TEST_F(TftpSessionTest, WithoutOptionsASilentDeviceGetsDataOneThirtyTimesAndTheTransferFails) {
    use_stepped_clock();
    std::vector<UdpDatagram> seen;
    TransferOutcome outcome = transfer(
        patterned_image(948814),
        [&] { receive_until_finished([&](const UdpDatagram& datagram) { seen.push_back(datagram); }); },
        true);

    EXPECT_EQ(outcome, TransferOutcome::FAILED);
    ASSERT_EQ(seen.size(), 30u);
    for (const UdpDatagram& datagram : seen) EXPECT_EQ(datagram.bytes, seen[0].bytes);
    EXPECT_EQ(tftp_opcode(seen[0]), TFTP_OPCODE_DATA);
    EXPECT_EQ(tftp_block(seen[0]), 1u);
    EXPECT_EQ(occurrences(traced, "ReSend block 1\n"), 29);
    EXPECT_EQ(occurrences(traced, "Timeout for ack; upgrade failed\n"), 1);
}

TEST_F(TftpSessionTest, AnAckFromAnotherPortIsTracedAndIgnoredUntilTheTransferFails) {
    use_stepped_clock();
    UdpTestPeer other_port;
    int oacks = 0;
    int other_datagrams = 0;
    TransferOutcome outcome = transfer(patterned_image(1024), [&] {
        receive_until_finished([&](const UdpDatagram& datagram) {
            if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) ++oacks;
            if (tftp_opcode(datagram) != TFTP_OPCODE_OACK) ++other_datagrams;
            other_port.send(server_port, tftp_ack(0));
        });
    });

    EXPECT_EQ(outcome, TransferOutcome::FAILED);
    EXPECT_EQ(oacks, 30);
    EXPECT_EQ(other_datagrams, 0);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Unknown source request in session: 7f000001:%u",
                  static_cast<unsigned>(other_port.port()));
    EXPECT_EQ(occurrences(traced, expected), 30);
    EXPECT_EQ(occurrences(traced, "Timeout for ack; upgrade failed\n"), 1);
    // Nothing was acknowledged: the dialog keeps its template title.
    EXPECT_EQ(upload_dialog()->title, "Uploading Firmware To TEV");
}

TEST_F(TftpSessionTest, FloodsOfStraysAndDuplicatesDoNotShortenTheSilence) {
    // Real time, sped up: whatever arrives, the session gives up only when the clock says so.
    use_sped_up_clock();
    UdpTestPeer stranger;
    std::atomic<int> bursts{0};
    auto start = std::chrono::steady_clock::now();
    TransferOutcome outcome = transfer(patterned_image(1024), [&] {
        UdpDatagram datagram;
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        peer.send(server_port, tftp_ack(0));
        // DATA 1 is never acknowledged: strangers, runts and duplicates of ACK 0 instead, in
        // bursts, far more than a poll per millisecond.
        while (!finished) {
            for (int i = 0; i < 100; ++i) {
                stranger.send(server_port, tftp_ack(1));
                peer.send(server_port, tftp_ack(0));
                peer.send(server_port, std::vector<std::uint8_t>{0, 4, 0});
            }
            ++bursts;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);

    EXPECT_EQ(outcome, TransferOutcome::FAILED);
    EXPECT_GE(bursts.load(), 10);
    EXPECT_EQ(occurrences(traced, "ReSend block 1\n"), 29);
    EXPECT_GE(static_cast<std::uint64_t>(took.count()) * SPEED_UP, give_up_after_ms());
}

TEST_F(TftpSessionTest, AnEndlessStreamOfDuplicatesStillEndsInResendsAndFailure) {
    use_sped_up_clock();
    TransferOutcome outcome = transfer(patterned_image(1024), [&] {
        UdpDatagram datagram;
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        peer.send(server_port, tftp_ack(0));
        // Nothing but ACK 0 again, back to back, never ACK 1 (for at most 20 s, so that a session
        // that never looks at its clock meanwhile fails the test instead of hanging it).
        auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!finished && std::chrono::steady_clock::now() < stop) {
            peer.send(server_port, tftp_ack(0));
        }
    });

    EXPECT_EQ(outcome, TransferOutcome::FAILED);
    EXPECT_EQ(occurrences(traced, "ReSend block 1\n"), 29);
    // On the sped-up clock a first period is 5 ms of real time: on a loaded machine the OACK may
    // go again before the peer's ACK 0 is read. Block 1's 29 resends and the give-up follow it.
    auto oack_resends = static_cast<std::size_t>(occurrences(traced, "ReSend option ack\n"));
    ASSERT_EQ(retry_times.size(), oack_resends + 30u);
    EXPECT_LT(retry_times.back(), 20000u * SPEED_UP / 2);  // long before the stream would stop
}

TEST_F(TftpSessionTest, ErrorPacketsCountAsIdleAndTheBlockIsSentThirtyTimes) {
    use_stepped_clock();
    int data_1 = 0;
    int other = 0;
    TransferOutcome outcome = transfer(patterned_image(1024), [&] {
        const std::vector<std::uint8_t> error{0, 5, 0, 0, 'n', 'o', 0};
        receive_until_finished([&](const UdpDatagram& datagram) {
            if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) {
                peer.send(server_port, tftp_ack(0));
            } else if (tftp_opcode(datagram) == TFTP_OPCODE_DATA && tftp_block(datagram) == 1) {
                ++data_1;
                peer.send(server_port, error);
            } else {
                ++other;
            }
        });
    });

    // Block 1 of 3 was never acknowledged: the transfer failed, whatever follows.
    EXPECT_EQ(outcome, TransferOutcome::FAILED);
    EXPECT_TRUE(upload_incomplete(outcome, false));
    EXPECT_EQ(data_1, 30);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(occurrences(traced, "ReSend block 1\n"), 29);
    // After ACK 0: the title shows no bytes yet, and the bar the first step.
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 0/1024 Bytes");
    EXPECT_EQ(upload_bar()->progress_position, 1);
}

TEST_F(TftpSessionTest, ADevicePausingForSecondsGetsTheBlockAgainAndTheTransferCompletes) {
    use_stepped_clock();
    std::vector<std::uint8_t> image = patterned_image(2000);
    std::vector<std::uint8_t> received;
    int block_2_sends = 0;
    TransferOutcome outcome = transfer(image, [&] {
        std::uint32_t pause_ends = 0;
        receive_until_finished([&](const UdpDatagram& datagram) {
            std::uint32_t block = tftp_block(datagram);
            if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) {
                peer.send(server_port, tftp_ack(0));
                return;
            }
            if (block == 2 && ++block_2_sends == 1) pause_ends = test_clock.now + 8000;
            // Silent for 8 s of the session's clock after DATA 2 first came.
            if (block == 2 && test_clock.now < pause_ends) return;
            if (block == received.size() / 512 + 1) {
                std::vector<std::uint8_t> part = payload(datagram);
                received.insert(received.end(), part.begin(), part.end());
            }
            peer.send(server_port, tftp_ack(block));
        });
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_TRUE(received == image);
    // 100, 200, 400 and 800 ms, then a second each: about ten times in 8 s, far from 30.
    EXPECT_GE(block_2_sends, 6);
    EXPECT_LE(block_2_sends, 20);
}

// The sends are counted for each packet: a device that takes every packet only at its third send
// gets the whole image, though the transfer's resends add up to far more than 30.
TEST_F(TftpSessionTest, EveryPacketHasThirtySendsOfItsOwn) {
    use_stepped_clock();
    std::vector<std::uint8_t> image = patterned_image(20 * 512 + 100);  // 21 blocks
    std::vector<std::uint8_t> received;
    std::vector<int> sends(22, 0);
    TransferOutcome outcome = transfer(image, [&] {
        receive_until_finished([&](const UdpDatagram& datagram) {
            bool data = tftp_opcode(datagram) == TFTP_OPCODE_DATA;
            std::uint32_t block = data ? tftp_block(datagram) : 0;
            if (block >= sends.size() || ++sends[block] < 3) return;  // the first two are lost
            if (data && block == received.size() / 512 + 1) {
                std::vector<std::uint8_t> part = payload(datagram);
                received.insert(received.end(), part.begin(), part.end());
            }
            peer.send(server_port, tftp_ack(block));
        });
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_TRUE(received == image);
    EXPECT_GE(occurrences(traced, "ReSend"), 2 * 22);
    EXPECT_EQ(occurrences(traced, "Timeout"), 0);
}

TEST_F(TftpSessionTest, ALostLastAcknowledgementEndsWithEveryBlockSentAndOnlyThatMissing) {
    use_stepped_clock();
    std::vector<std::uint8_t> image = patterned_image(1100);
    int last_block_sends = 0;
    TransferOutcome outcome = transfer(image, [&] {
        receive_until_finished([&](const UdpDatagram& datagram) {
            std::uint32_t block = tftp_block(datagram);
            if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) block = 0;
            // The device takes the final block, acknowledges it into the void and goes quiet.
            if (tftp_opcode(datagram) == TFTP_OPCODE_DATA && block == 3) {
                ++last_block_sends;
                return;
            }
            peer.send(server_port, tftp_ack(block));
        });
    });

    EXPECT_EQ(outcome, TransferOutcome::LAST_ACK_MISSING);
    EXPECT_EQ(last_block_sends, 30);
    EXPECT_EQ(occurrences(traced, "Timeout for last ack; all blocks sent\n"), 1);
    EXPECT_EQ(occurrences(traced, "upgrade failed"), 0);
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 1024/1100 Bytes");
    // The adapter's version check after the flash decides; the handset is not checked, so for
    // it the upload stays incomplete.
    EXPECT_FALSE(upload_incomplete(outcome, false));
    EXPECT_TRUE(upload_incomplete(outcome, true));
    EXPECT_FALSE(upload_incomplete(TransferOutcome::COMPLETE, true));
}

// A device that falls silent with the packet `silent_at` outstanding (0 the OACK), having answered
// every one before it. Only a silence when the last block is all that is missing leaves the
// outcome to the version check; one block earlier, even the last full block before the empty one
// that ends an image of whole blocks, is a failed transfer.
TEST_F(TftpSessionTest, ASilenceBeforeTheLastBlockFailsTheTransfer) {
    struct Case {
        std::size_t size;
        std::uint32_t silent_at;
        TransferOutcome outcome;
        const char* trace_line;
        const char* counted;  // the bytes the title counts
    };
    const char* failed = "Timeout for ack; upgrade failed\n";
    const char* last_missing = "Timeout for last ack; all blocks sent\n";
    const Case cases[] = {
        {1100, 2, TransferOutcome::FAILED, failed, "512/1100"},
        {1100, 3, TransferOutcome::LAST_ACK_MISSING, last_missing, "1024/1100"},
        {1024, 2, TransferOutcome::FAILED, failed, "512/1024"},
        {1024, 3, TransferOutcome::LAST_ACK_MISSING, last_missing, "1024/1024"},
        {2600, 5, TransferOutcome::FAILED, failed, "2048/2600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, silent at " << c.silent_at);
        // Standing still while the device answers, running from its silence on; 100 ms a read
        // divides every period too, and the silence passes faster.
        use_stepped_clock(true);
        test_clock.step = 100;
        traced.clear();
        finished = false;
        int silent_sends = 0;
        TransferOutcome outcome = transfer(patterned_image(c.size), [&] {
            receive_until_finished([&](const UdpDatagram& datagram) {
                bool data = tftp_opcode(datagram) == TFTP_OPCODE_DATA;
                std::uint32_t block = data ? tftp_block(datagram) : 0;
                if (block >= c.silent_at) {
                    ++silent_sends;
                    test_clock.frozen = false;
                    return;
                }
                peer.send(server_port, tftp_ack(block));
            });
        });
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(silent_sends, RETRY_LIMIT);
        EXPECT_EQ(occurrences(traced, "Timeout"), 1);
        EXPECT_EQ(occurrences(traced, c.trace_line), 1);
        EXPECT_EQ(upload_dialog()->title, std::string("Uploading Target Firmware to "
                                                      "TEV@127.0.0.2 ") + c.counted + " Bytes");
        dialog_destroy(upgrade_state.upload_dialog);
        upgrade_state.upload_dialog = nullptr;
    }
}

TEST_F(TftpSessionTest, TheTransitionImageIsNamedInTheTitle) {
    upgrade_state.stage = STAGE_TRANSITION;
    std::strcpy(upgrade_state.device_ip_text, "192.168.100.200");
    TransferOutcome outcome = transfer(patterned_image(600),
                                       [&] { acknowledge_every_block(peer, server_port); });
    upgrade_state.stage = STAGE_TARGET;

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_EQ(upload_dialog()->title,
              "Uploading Transition Firmware to TEV@192.168.100.200 600/600 Bytes");
}

// --- The wait

TEST(SocketWait, ADatagramEndsAWaitAtOnceInEitherPrecisionAndSlackIsRestored) {
    NetSocket socket = net_udp_socket();
    NetAddress address{};
    fill_sockaddr(LOOPBACK_ADDRESS, 0, &address);
    ASSERT_TRUE(net_bind(socket, address));
    ASSERT_TRUE(net_local_address(socket, &address));
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(address, &ip, &port);
    int own_slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);

    EXPECT_FALSE(net_wait_readable(socket, 1, WaitTimeout::COARSE));
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), own_slack);
    EXPECT_FALSE(net_wait_readable(socket, 1, WaitTimeout::EXACT));

    UdpTestPeer peer;
    for (WaitTimeout precision : {WaitTimeout::COARSE, WaitTimeout::EXACT}) {
        peer.send(port, tftp_ack(1));
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(net_wait_readable(socket, 5000, precision));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        char buffer[16];
        EXPECT_EQ(net_recv_from(socket, buffer, sizeof buffer, nullptr), 4);
    }
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), own_slack);
    net_close(socket);
}

}  // namespace

namespace {

// Counts what the server tells and keeps the byte counts it saw acknowledged; shows nothing.
struct CountingEvents final : TftpEvents {
    void waiting(bool) override { ++waits; }
    void waiting_poll(int) override { ++waiting_polls; }
    void request_accepted() override { ++accepted; }
    void transfer_started(const TftpSession& session) override {
        ++started;
        size_at_start = session.transfer_size;
    }
    void block_acknowledged(const TftpSession& session) override {
        acknowledged_bytes.push_back(session.bytes_acked);
    }
    void transfer_poll() override { ++transfer_polls; }
    void transfer_ended(const TftpSession&, TransferOutcome) override { ++ended; }
    void fail(const char* message) override { failures.push_back(message); }

    int waits = 0, waiting_polls = 0, accepted = 0, started = 0, transfer_polls = 0, ended = 0;
    std::uint32_t size_at_start = 0;
    std::vector<std::uint32_t> acknowledged_bytes;
    std::vector<std::string> failures;
};

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

}  // namespace

TEST_F(TftpSessionTest, AStandInHearsTheTransferAndNoDialogOpens) {
    CountingEvents counting;
    events = &counting;
    std::vector<std::uint8_t> image = patterned_image(1100);
    TransferOutcome outcome =
        transfer(image, [&] { acknowledge_every_block(peer, server_port); });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_EQ(counting.started, 1);
    EXPECT_EQ(counting.size_at_start, 1100u);
    // The OACK's acknowledgement, then each of the three blocks'.
    EXPECT_EQ(counting.acknowledged_bytes, (std::vector<std::uint32_t>{0, 512, 1024, 1100}));
    // The end is the caller's to tell; the listener's events are not the transfer's.
    EXPECT_EQ(counting.ended, 0);
    EXPECT_EQ(counting.waits + counting.waiting_polls + counting.accepted, 0);
    EXPECT_TRUE(counting.failures.empty());
    EXPECT_EQ(upgrade_state.upload_dialog, nullptr);
}

// A device that acknowledges blocks it never got (a firmware bug) must not move the transfer on:
// the acknowledgements are ignored, nothing more counts as acknowledged, and the outstanding block
// goes out again after its silent period.
TEST_F(TftpSessionTest, AcknowledgementsAheadOfTheOutstandingBlockAreIgnored) {
    use_stepped_clock(true);  // standing still but while the device waits for the block again
    CountingEvents counting;
    events = &counting;
    std::vector<std::uint8_t> image = patterned_image(2000);  // blocks of 512, 512, 512, 464
    std::vector<std::uint32_t> blocks_seen;
    std::vector<std::uint8_t> received;
    TransferOutcome outcome = transfer(image, [&] {
        bool jumped = false;
        receive_until_finished([&](const UdpDatagram& datagram) {
            bool data = tftp_opcode(datagram) == TFTP_OPCODE_DATA;
            std::uint32_t block = data ? tftp_block(datagram) : 0;
            blocks_seen.push_back(block);
            if (block == 2 && !jumped) {
                jumped = true;
                peer.send(server_port, tftp_ack(3));
                peer.send(server_port, tftp_ack(7));
                // The clock runs until block 2 goes again, then stands still, however late this
                // thread hears of it.
                test_clock.freeze_at_resend = true;
                test_clock.frozen = false;
                return;
            }
            test_clock.frozen = true;
            if (data && block == received.size() / 512 + 1) {
                std::vector<std::uint8_t> part = payload(datagram);
                received.insert(received.end(), part.begin(), part.end());
            }
            peer.send(server_port, tftp_ack(block));
        });
    });

    EXPECT_EQ(outcome, TransferOutcome::COMPLETE);
    EXPECT_EQ(blocks_seen, (std::vector<std::uint32_t>{0, 1, 2, 2, 3, 4}));
    EXPECT_EQ(counting.acknowledged_bytes, (std::vector<std::uint32_t>{0, 512, 1024, 1536, 2000}));
    EXPECT_TRUE(received == image);
    EXPECT_EQ(occurrences(traced, "ACK 3 ignored: waiting for ACK 2\n"), 1);
    EXPECT_EQ(occurrences(traced, "ACK 7 ignored: waiting for ACK 2\n"), 1);
    EXPECT_EQ(occurrences(traced, "ReSend block 2\n"), 1);
}
