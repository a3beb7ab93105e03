// The transfer session against a peer on loopback: the packets in lock step, the title and bar
// after each acknowledgement, a duplicate acknowledgement, and the retransmission count of a
// silent peer; and the socket wait under both precisions.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/upgrade_state.h"
#include "platform/posix/console_dialogs.h"
#include "platform/posix/dialog_model.h"
#include "res/dialog_ids.h"
#include "tftp/tftp_session.h"
#include "web/http_client.h"

namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;

// A UDP socket of the test's own on loopback, with a receive time-out.
struct Peer {
    int fd = -1;
    std::uint16_t port = 0;
    sockaddr_in server{};

    explicit Peer(std::uint16_t server_port) {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in own{};
        own.sin_family = AF_INET;
        own.sin_addr.s_addr = htonl(LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own);
        socklen_t length = sizeof own;
        getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length);
        port = ntohs(own.sin_port);
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = htonl(LOOPBACK);
        server.sin_port = htons(server_port);
    }
    ~Peer() { close(fd); }

    // One datagram, or an empty string when none came within the time.
    std::string receive(int timeout_ms) {
        timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[1024];
        long got = recv(fd, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    }
    void ack(unsigned block) {
        unsigned char packet[4] = {0, 4, static_cast<unsigned char>(block >> 8),
                                   static_cast<unsigned char>(block)};
        sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
    }
};

class TransferSession : public ::testing::Test {
protected:
    void SetUp() override {
        console_output_use(nullptr);
        upgrade_state.stage = STAGE_TARGET;
        std::strcpy(upgrade_state.device_ip_text, "127.0.0.1");
        socket = net_udp_socket();
        NetAddress address{};
        fill_sockaddr(LOOPBACK, 0, &address);
        ASSERT_TRUE(net_bind(socket, address));
        ASSERT_TRUE(net_local_address(socket, &address));
        read_sockaddr(address, &local_ip, &local_port);
    }
    void TearDown() override {
        if (upgrade_state.upload_dialog != nullptr) dialog_destroy(upgrade_state.upload_dialog);
        upgrade_state.upload_dialog = nullptr;
        net_close(socket);
        console_output_use(stdout);
    }
    // A session of that size for the peer; the transfer runs on this thread.
    bool transfer(const Peer& peer, const std::vector<std::uint8_t>& image) {
        TftpSession session{};
        session.socket = socket;
        session.local_ip = local_ip;
        session.local_port = local_port;
        session.peer_ip = LOOPBACK;
        session.peer_port = peer.port;
        size_tftp_session(&session, static_cast<std::uint32_t>(image.size()));
        return transfer_image(&session, image.data());
    }
    ModelDialog* upload_dialog() { return model_dialog_find(upgrade_state.upload_dialog); }

    NetSocket socket = NET_INVALID_SOCKET;
    std::uint32_t local_ip = 0;
    std::uint16_t local_port = 0;
};

std::string data_packet(unsigned block, const std::uint8_t* payload, std::size_t length) {
    std::string packet = {0, 3, static_cast<char>(block >> 8), static_cast<char>(block & 0xFF)};
    return packet + std::string(reinterpret_cast<const char*>(payload), length);
}

TEST_F(TransferSession, TwoFullBlocksThenAnEmptyOneEachAfterItsAcknowledgement) {
    std::vector<std::uint8_t> image(1024);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    Peer peer(local_port);
    std::vector<std::string> received;
    std::string title_after_oack;
    std::thread device([&] {
        received.push_back(peer.receive(2000));  // the OACK
        peer.ack(0);
        peer.ack(0);  // a duplicate: dropped, and nothing is sent again for it
        for (unsigned block = 1; block <= 3; ++block) {
            received.push_back(peer.receive(2000));
            if (block == 1) received.push_back(peer.receive(30));  // nothing more of block 1
            peer.ack(block);
        }
    });
    bool failed = transfer(peer, image);
    device.join();
    EXPECT_FALSE(failed);
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(received[0], std::string("\0\6tsize\0" "1024\0timeout\0" "5\0", 23));
    EXPECT_EQ(received[1], data_packet(1, image.data(), 512));
    EXPECT_EQ(received[2], "");
    EXPECT_EQ(received[3], data_packet(2, image.data() + 512, 512));
    EXPECT_EQ(received[4], data_packet(3, nullptr, 0));
    ModelDialog* dialog = upload_dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->title, "Uploading Target Firmware to TEV@127.0.0.1 1024/1024 Bytes");
    ModelControl* bar = model_control(dialog, CONTROL_PROGRESS);
    EXPECT_EQ(bar->progress_maximum, 3);
    EXPECT_EQ(bar->progress_position, 3);  // block 4 is past the range: the bar stands full
}

TEST_F(TransferSession, TitleCountsAcknowledgedBytesWithTheStageWord) {
    upgrade_state.stage = STAGE_TRANSITION;
    std::strcpy(upgrade_state.device_ip_text, "192.168.100.200");
    std::vector<std::uint8_t> image(600, 0x5A);
    Peer peer(local_port);
    std::vector<std::string> titles;
    std::thread device([&] {
        peer.receive(2000);
        peer.ack(0);
        peer.receive(2000);
        peer.ack(1);
        peer.receive(2000);
        peer.ack(2);
    });
    EXPECT_FALSE(transfer(peer, image));
    device.join();
    EXPECT_EQ(upload_dialog()->title,
              "Uploading Transition Firmware to TEV@192.168.100.200 600/600 Bytes");
}

TEST_F(TransferSession, SilentPeerGetsTheOptionAcknowledgementThirtyTimesThenTheTransferFails) {
    std::vector<std::uint8_t> image(100, 1);
    Peer peer(local_port);
    int oacks = 0;
    std::atomic<bool> done{false};
    std::thread device([&] {
        while (!done) {
            std::string packet = peer.receive(50);
            if (!packet.empty() && packet[1] == 6) ++oacks;
        }
    });
    auto start = std::chrono::steady_clock::now();
    bool failed = transfer(peer, image);
    auto took = std::chrono::steady_clock::now() - start;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    done = true;
    device.join();
    EXPECT_TRUE(failed);
    EXPECT_EQ(oacks, 30);
    // 30 periods of 100 polls of about a millisecond: seconds, not a minute.
    EXPECT_GE(took, std::chrono::milliseconds(2900));
    EXPECT_LT(took, std::chrono::seconds(60));
}

// --- The wait ---

TEST(SocketWait, ADatagramEndsAWaitAtOnceInEitherPrecisionAndSlackIsRestored) {
    NetSocket socket = net_udp_socket();
    NetAddress address{};
    fill_sockaddr(LOOPBACK, 0, &address);
    ASSERT_TRUE(net_bind(socket, address));
    ASSERT_TRUE(net_local_address(socket, &address));
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    read_sockaddr(address, &ip, &port);
    int own_slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);

    EXPECT_FALSE(net_wait_readable(socket, 1, WaitTimeout::COARSE));
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), own_slack);
    EXPECT_FALSE(net_wait_readable(socket, 1, WaitTimeout::EXACT));

    Peer peer(port);
    for (WaitTimeout precision : {WaitTimeout::COARSE, WaitTimeout::EXACT}) {
        peer.ack(1);
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
