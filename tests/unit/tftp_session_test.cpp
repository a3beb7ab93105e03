// The transfer session against a scripted device on loopback: the packets in lock step, the end of
// a transfer, what is ignored, retransmission and failure, and what the upload dialog shows.
#include "tftp/tftp_session.h"

#include <gtest/gtest.h>

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

#include "app/trace.h"
#include "app/upgrade_state.h"
#include "platform/clock.h"
#include "console_capture.h"
#include "platform/net.h"
#include "platform/posix/dialog_model.h"
#include "process_exit_guard.h"
#include "res/dialog_ids.h"
#include "tftp/tftp_packets.h"
#include "udp_test_peer.h"
#include "web/http_client.h"

namespace {

constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;
// Generous for a packet on loopback, short against the 30 retry periods of a failing run.
constexpr int PACKET_WAIT_MS = 2000;

std::string traced;
void keep_trace(const char* format, va_list arguments) {
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    traced += text;
}

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
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
        trace_set_sink(keep_trace);
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
    }

    // Runs the transfer of image to the peer while script plays the device on its own thread.
    bool transfer(const std::vector<std::uint8_t>& image, std::function<void()> script) {
        session = TftpSession{};
        session.socket = server;
        session.local_ip = LOOPBACK_ADDRESS;
        session.local_port = server_port;
        session.peer_ip = LOOPBACK_ADDRESS;
        session.peer_port = peer.port();
        size_tftp_session(&session, static_cast<std::uint32_t>(image.size()));
        peer_thread = std::thread(std::move(script));
        bool failed = transfer_image(&session, image.data());
        finished = true;
        peer_thread.join();
        return failed;
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

    ModelDialog* upload_dialog() { return model_dialog_find(upgrade_state.upload_dialog); }
    ModelControl* upload_bar() { return model_control(upload_dialog(), CONTROL_PROGRESS); }

    ProcessExitGuard exit_guard;
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
    bool failed = transfer(image, [&] { seen = acknowledge_every_block(peer, server_port); });

    EXPECT_FALSE(failed);
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

std::atomic<std::uint32_t> test_now_ms{5000};
std::uint32_t test_clock() { return test_now_ms.load(); }

// Acknowledgements that stream in (here with no time passing) are not all drawn as they come;
// when they pause, the latest count must show once the redraw interval has passed, and the last
// count at once.
TEST_F(TftpSessionTest, ACountHeldBackShowsWhenTheAcknowledgementsPause) {
    test_now_ms = 5000;
    clock_substitute(test_clock);
    std::vector<std::uint8_t> image = patterned_image(2000);  // blocks of 512, 512, 512, 464
    std::string title_in_pause;
    int bar_in_pause = -1;
    bool failed = transfer(image, [&] {
        UdpDatagram datagram;
        for (std::uint32_t block = 0; block <= 2; ++block) {
            if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
            peer.send(server_port, tftp_ack(block));
        }
        // Block 3 unanswered until it comes again: the session has been idle since, and now a
        // second has passed for it.
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        test_now_ms = 6000;
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        title_in_pause = upload_dialog()->title;
        bar_in_pause = upload_bar()->progress_position;
        for (std::uint32_t block = 3; block <= 4; ++block) {
            peer.send(server_port, tftp_ack(block));
            if (block < 4 && !peer.receive(&datagram, PACKET_WAIT_MS)) return;
        }
    });
    clock_substitute(nullptr);

    EXPECT_FALSE(failed);
    EXPECT_EQ(title_in_pause, "Uploading Target Firmware to TEV@127.0.0.2 1024/2000 Bytes");
    EXPECT_EQ(bar_in_pause, 3);
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 2000/2000 Bytes");
    EXPECT_EQ(upload_bar()->progress_position, 4);  // full
}

TEST_F(TftpSessionTest, AnImageOfWholeBlocksEndsWithAnEmptyBlockAndOnlyItsAckCompletes) {
    std::vector<std::uint8_t> image = patterned_image(1024);
    std::vector<UdpDatagram> seen;
    bool finished_before_last_ack = true;
    bool failed = transfer(image, [&] {
        UdpDatagram datagram;
        for (std::uint32_t block = 0; block <= 3; ++block) {
            if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
            seen.push_back(datagram);
            if (block < 3) peer.send(server_port, tftp_ack(block));
        }
        // The empty block is still outstanding: it comes again after a silent period.
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        seen.push_back(datagram);
        finished_before_last_ack = finished;
        peer.send(server_port, tftp_ack(3));
    });

    EXPECT_FALSE(failed);
    EXPECT_FALSE(finished_before_last_ack);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].bytes, oack_for(1024));
    EXPECT_EQ(seen[1].bytes.size(), 516u);
    EXPECT_EQ(payload(seen[1]), std::vector<std::uint8_t>(image.begin(), image.begin() + 512));
    EXPECT_EQ(seen[2].bytes.size(), 516u);
    EXPECT_EQ(payload(seen[2]), std::vector<std::uint8_t>(image.begin() + 512, image.end()));
    EXPECT_EQ(seen[3].bytes, (std::vector<std::uint8_t>{0, 3, 0, 3}));
    EXPECT_EQ(seen[4].bytes, seen[3].bytes);
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 1024/1024 Bytes");
    EXPECT_EQ(upload_bar()->progress_maximum, 3);
    EXPECT_EQ(occurrences(traced, "ReSend block 3\n"), 1);
}

TEST_F(TftpSessionTest, AnEmptyImageIsOneEmptyBlock) {
    std::vector<UdpDatagram> seen;
    bool failed =
        transfer(std::vector<std::uint8_t>{}, [&] { seen = acknowledge_every_block(peer, server_port); });

    EXPECT_FALSE(failed);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].bytes, oack_for(0));
    EXPECT_EQ(seen[0].bytes.size(), 20u);
    EXPECT_EQ(seen[1].bytes, (std::vector<std::uint8_t>{0, 3, 0, 1}));
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 0/0 Bytes");
    EXPECT_EQ(upload_bar()->progress_maximum, 1);
}

TEST_F(TftpSessionTest, DuplicateAcknowledgementsNeitherRetransmitNorCountAsIdle) {
    std::vector<std::uint8_t> image = patterned_image(1500);
    std::vector<UdpDatagram> seen;
    bool failed = transfer(image, [&] {
        UdpDatagram datagram;
        for (std::uint32_t block = 0; block < 2; ++block) {
            if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
            peer.send(server_port, tftp_ack(block));
        }
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        seen.push_back(datagram);  // DATA 2
        // More duplicates than the idle polls of a retry period, at once: if they counted as idle
        // polls, or each were answered, DATA 2 would come again before DATA 3.
        for (int i = 0; i < 120; ++i) peer.send(server_port, tftp_ack(1));
        peer.send(server_port, tftp_ack(2));
        if (!peer.receive(&datagram, PACKET_WAIT_MS)) return;
        seen.push_back(datagram);
        peer.send(server_port, tftp_ack(tftp_block(datagram)));
    });

    EXPECT_FALSE(failed);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(tftp_block(seen[0]), 2u);
    EXPECT_EQ(tftp_block(seen[1]), 3u);
    EXPECT_EQ(seen[1].bytes.size(), 4u + 476u);
    EXPECT_EQ(occurrences(traced, "ReSend"), 0);
}

TEST_F(TftpSessionTest, AnAckFromAnotherPortIsTracedAndIgnoredUntilTheTransferFails) {
    UdpTestPeer other_port;
    int oacks = 0;
    int other_datagrams = 0;
    bool failed = transfer(patterned_image(1024), [&] {
        receive_until_finished([&](const UdpDatagram& datagram) {
            if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) ++oacks;
            if (tftp_opcode(datagram) != TFTP_OPCODE_OACK) ++other_datagrams;
            other_port.send(server_port, tftp_ack(0));
        });
    });

    EXPECT_TRUE(failed);
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

TEST_F(TftpSessionTest, AFloodOfStrayDatagramsDoesNotShortenTheRetryPeriods) {
    UdpTestPeer stranger;
    auto start = std::chrono::steady_clock::now();
    bool failed = transfer(patterned_image(1024), [&] {
        // Bursts of strays until the transfer gives up: together far more than the 3,000 idle
        // polls of all 30 periods.
        while (!finished) {
            for (int i = 0; i < 200; ++i) stranger.send(server_port, tftp_ack(0));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);

    EXPECT_TRUE(failed);
    // Each stray costs its poll a full millisecond, as an empty poll does.
    EXPECT_GE(took.count(), 2800);
}

TEST_F(TftpSessionTest, ASilentDeviceGetsTheOptionAcknowledgementThirtyTimesAtRetryPeriods) {
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    std::vector<UdpDatagram> seen;
    bool failed = transfer(patterned_image(948814), [&] {
        receive_until_finished([&](const UdpDatagram& datagram) {
            arrivals.push_back(std::chrono::steady_clock::now());
            seen.push_back(datagram);
        });
    });

    EXPECT_TRUE(failed);
    ASSERT_EQ(seen.size(), 30u);
    for (const UdpDatagram& datagram : seen) EXPECT_EQ(datagram.bytes, oack_for(948814));
    EXPECT_EQ(occurrences(traced, "ReSend option ack\n"), 29);
    EXPECT_EQ(occurrences(traced, "Timeout for ack; upgrade failed\n"), 1);
    // 29 periods of 100 idle polls, each of which waits for a packet up to 1 ms.
    auto spread = std::chrono::duration_cast<std::chrono::milliseconds>(arrivals.back() -
                                                                        arrivals.front());
    EXPECT_GE(spread.count(), 2800);
}

TEST_F(TftpSessionTest, ErrorPacketsCountAsIdleAndTheBlockIsSentThirtyTimes) {
    int data_1 = 0;
    int other = 0;
    bool failed = transfer(patterned_image(1024), [&] {
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

    EXPECT_TRUE(failed);
    EXPECT_EQ(data_1, 30);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(occurrences(traced, "ReSend block 1\n"), 29);
    // After ACK 0: the title shows no bytes yet, and the bar the first step.
    EXPECT_EQ(upload_dialog()->title, "Uploading Target Firmware to TEV@127.0.0.2 0/1024 Bytes");
    EXPECT_EQ(upload_bar()->progress_position, 1);
}

TEST_F(TftpSessionTest, TheTransitionImageIsNamedInTheTitle) {
    upgrade_state.stage = STAGE_TRANSITION;
    bool failed = transfer(patterned_image(700),
                           [&] { acknowledge_every_block(peer, server_port); });
    upgrade_state.stage = STAGE_TARGET;

    EXPECT_FALSE(failed);
    EXPECT_EQ(upload_dialog()->title,
              "Uploading Transition Firmware to TEV@127.0.0.2 700/700 Bytes");
}

}  // namespace
