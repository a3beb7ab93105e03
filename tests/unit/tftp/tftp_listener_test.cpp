// What the listener makes of each datagram before a transfer, and the walk over taken ports.
#include "tftp/tftp_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/firmware_images.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "platform/net_address.h"
#include "test_support.h"
#include "tftp/tftp_packets.h"
#include "tftp/tftp_session.h"
#include "udp_test_peer.h"

namespace {

constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;

const std::string& traced = kept_trace();

class ListenerDatagrams : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(upgrade_state.tftp_file_name, "/tev1a2b.bi1");
        keep_trace();
        std::memset(name, '#', sizeof name);
    }
    void TearDown() override { stop_keeping_trace(); }

    DatagramVerdict judge(const std::string& datagram) {
        clear_kept_trace();
        return judge_listener_datagram(reinterpret_cast<const std::uint8_t*>(datagram.data()),
                                       static_cast<long>(datagram.size()), name);
    }
    static std::string rrq(const std::string& file_name) {
        return std::string("\0\1", 2) + file_name + std::string("\0octet\0tsize\0" "0\0", 14);
    }

    char name[TFTP_RECEIVE_AREA_SIZE];
};

TEST_F(ListenerDatagrams, OnlyAReadRequestForExactlyTheAnnouncedNameIsAccepted) {
    EXPECT_EQ(judge(rrq("/tev1a2b.bi1")), DatagramVerdict::ACCEPTED);
    EXPECT_STREQ(name, "/tev1a2b.bi1");
    EXPECT_EQ(traced, "/tev1a2b.bi1 /tev1a2b.bi1\n");
    // Nothing after the name is read: no mode, no options.
    EXPECT_EQ(judge(std::string("\0\1/tev1a2b.bi1\0", 15)), DatagramVerdict::ACCEPTED);

    for (const char* other : {"/TEV1A2B.bi1", "tev1a2b.bi1", "/tev1a2b.bi0", "/tev1a2b.bi1x",
                              "/tev1a2b.bi", ""}) {
        EXPECT_EQ(judge(rrq(other)), DatagramVerdict::IGNORED) << other;
        EXPECT_EQ(traced, std::string("/tev1a2b.bi1 ") + other + "\n+++ Bad TFTP RRQ filename " +
                              other + "\n")
            << other;
    }
}

TEST_F(ListenerDatagrams, ANameWithoutItsTerminatorNeverMatches) {
    EXPECT_EQ(judge(std::string("\0\1/tev1a2b.bi1", 14)), DatagramVerdict::IGNORED);
    EXPECT_NE(traced.find("+++ Bad TFTP RRQ filename /tev1a2b.bi1\n"), std::string::npos);
    // A full receive area of name bytes: the copy stays inside the name buffer.
    std::string full = std::string("\0\1", 2) + std::string(TFTP_RECEIVE_AREA_SIZE - 2, 'a');
    EXPECT_EQ(judge(full), DatagramVerdict::IGNORED);
    EXPECT_EQ(std::strlen(name), static_cast<std::size_t>(TFTP_RECEIVE_AREA_SIZE - 2));
}

TEST_F(ListenerDatagrams, OtherTftpPacketsAreTracedAndIgnored) {
    const struct {
        char opcode;
        const char* trace;
    } cases[] = {{2, "TFTP Rx WRQ?\n"}, {3, "TFTP Rx Data?\n"}, {4, "TFTP Rx ACK?\n"},
                 {5, "TFTP Rx Error?\n"}};
    for (const auto& c : cases) {
        // A WRQ carries the announced name, and is still not served.
        std::string datagram = rrq("/tev1a2b.bi1");
        datagram[1] = c.opcode;
        EXPECT_EQ(judge(datagram), DatagramVerdict::IGNORED) << int(c.opcode);
        EXPECT_EQ(traced, c.trace);
    }
}

TEST_F(ListenerDatagrams, UnknownOpcodesAreIgnoredWithTheirNumberAndRuntsAreIdlePolls) {
    struct Case {
        std::string opcode;
        const char* number;
    };
    for (const Case& c : {Case{std::string("\0\0", 2), "0"}, Case{std::string("\0\6", 2), "6"},
                          Case{std::string("\0\7", 2), "7"}, Case{std::string("\1\1", 2), "257"},
                          Case{std::string("\xff\xff", 2), "65535"}}) {
        clear_kept_trace();
        EXPECT_EQ(judge(c.opcode + "/tev1a2b.bi1" + std::string(1, '\0')), DatagramVerdict::IGNORED);
        EXPECT_EQ(traced, std::string("TFTP datagram with opcode ") + c.number +
                              ": not a TFTP request, ignored\n");
    }
    clear_kept_trace();
    EXPECT_EQ(judge(""), DatagramVerdict::IDLE);
    EXPECT_EQ(traced, "");
    EXPECT_EQ(judge(std::string("\0", 1)), DatagramVerdict::IDLE);
    EXPECT_EQ(traced, "TFTP datagram of 1 byte: too short for an opcode, ignored\n");
}

TEST(ListenerPorts, TheBindWalkSkipsTakenPortsAndGivesUpAfterItsAttempts) {
    HeldUdpPorts taken(2);
    NetSocket socket = net_udp_socket();
    ASSERT_NE(socket, NET_INVALID_SOCKET);
    EXPECT_EQ(bind_port_walk(socket, LOOPBACK_ADDRESS, taken.first(), 2), 0);
    std::uint16_t third = static_cast<std::uint16_t>(taken.first() + 2);
    EXPECT_EQ(bind_port_walk(socket, LOOPBACK_ADDRESS, taken.first(), 100), third);
    NetAddress bound;
    ASSERT_TRUE(net_local_address(socket, &bound));
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    read_sockaddr(bound, &address, &port);
    EXPECT_EQ(address, LOOPBACK_ADDRESS);
    EXPECT_EQ(port, third);
    net_close(socket);
}

TEST(ListenerPorts, WithEveryPortOfTheWalkTakenTheSystemChoosesOneAndTheLogSaysSo) {
    HeldUdpPorts taken(TFTP_BIND_ATTEMPTS);
    NetSocket socket = net_udp_socket();
    ASSERT_NE(socket, NET_INVALID_SOCKET);
    keep_trace();
    std::uint16_t port = bind_listener_port(socket, LOOPBACK_ADDRESS, taken.first());
    std::string log = traced;
    stop_keeping_trace();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(port < taken.first() || port >= taken.first() + TFTP_BIND_ATTEMPTS) << port;
    NetAddress bound;
    ASSERT_TRUE(net_local_address(socket, &bound));
    EXPECT_EQ(net_ntohs(bound.port_be), port);
    EXPECT_EQ(log, "TFTP ports " + std::to_string(taken.first()) + " to " +
                       std::to_string(taken.first() + TFTP_BIND_ATTEMPTS - 1) +
                       " could not be bound; the system chose port " + std::to_string(port) + "\n");
    net_close(socket);

    // One port of the walk free: that one, and nothing to log.
    HeldUdpPorts all_but_last(TFTP_BIND_ATTEMPTS - 1);
    socket = net_udp_socket();
    keep_trace();
    EXPECT_EQ(bind_listener_port(socket, LOOPBACK_ADDRESS, all_but_last.first()),
              all_but_last.first() + TFTP_BIND_ATTEMPTS - 1);
    EXPECT_EQ(traced, "");
    stop_keeping_trace();
    net_close(socket);
}

}  // namespace

namespace {

struct FailureRecorder final : TftpEvents {
    void waiting(bool) override { ++other_calls; }
    void waiting_poll(int) override { ++other_calls; }
    void request_accepted() override { ++other_calls; }
    void transfer_started(const TftpSession&) override { ++other_calls; }
    void block_acknowledged(const TftpSession&) override { ++other_calls; }
    void transfer_poll() override { ++other_calls; }
    void transfer_ended(const TftpSession&, TransferOutcome) override { ++other_calls; }
    void fail(const char* message) override { failures.push_back(message); }

    int other_calls = 0;
    std::vector<std::string> failures;
};

}  // namespace

TEST(ListenerPorts, NoPortToBindIsToldToTheEventsOnce) {
    // An address of no interface here (TEST-NET-1): every one of the 100 binds fails.
    FailureRecorder events;
    EXPECT_EQ(start_tftp_listener(0xC0000201u, events), 0u);
    EXPECT_EQ(events.failures,
              std::vector<std::string>{"Upgrade Failed: Can't bind TFTP listener socket"});
    EXPECT_EQ(events.other_calls, 0);
}

namespace {

// What the listener of a two-stage upgrade tells, one line each on standard error, where the death
// test reads them.
struct StageRecorder final : TftpEvents {
    void waiting(bool first) override { say(first ? "waiting first" : "waiting again"); }
    void waiting_poll(int) override {}
    void request_accepted() override {}
    void transfer_started(const TftpSession& session) override {
        say(("transfer of " + std::to_string(session.transfer_size)).c_str());
    }
    void block_acknowledged(const TftpSession&) override {}
    void transfer_poll() override {}
    void transfer_ended(const TftpSession&, TransferOutcome) override { say("ended"); }
    void fail(const char* message) override { say(message); }
    static void say(const char* line) { std::fprintf(stderr, "%s\n", line); }
};

// What the server answered a read request with first: the OACK with its fields, or DATA.
std::string first_answer(const UdpDatagram& datagram) {
    std::string said = "first answer: ";
    if (tftp_opcode(datagram) == TFTP_OPCODE_DATA) {
        return said + "DATA " + std::to_string(tftp_block(datagram)) + " of " +
               std::to_string(datagram.bytes.size() - TFTP_HEADER_SIZE) + " bytes";
    }
    said += tftp_opcode(datagram) == TFTP_OPCODE_OACK ? "OACK" : "something else";
    for (std::size_t at = 2; at < datagram.bytes.size(); ++at) {
        if (datagram.bytes[at] == 0) continue;
        said += ' ';
        for (; at < datagram.bytes.size() && datagram.bytes[at] != 0; ++at) {
            said += static_cast<char>(datagram.bytes[at]);
        }
    }
    return said;
}

// A device that asks for name, with the options a TEV names (tsize and timeout) or with none, and
// acknowledges every packet until the short last block.
void fetch(UdpTestPeer& peer, std::uint16_t server_port, const char* name, bool with_options) {
    // Written as text first: GCC 12 warns falsely (-Warray-bounds) about inserting into a vector
    // of two bytes.
    std::string text("\0\1", 2);
    text.append(name).push_back('\0');
    text.append("octet").push_back('\0');
    static const char OPTIONS[] = "tsize\0" "0\0" "timeout\0" "5";  // and the literal's NUL
    if (with_options) text.append(OPTIONS, sizeof OPTIONS);
    peer.send(server_port, std::vector<std::uint8_t>(text.begin(), text.end()));
    UdpDatagram datagram;
    bool first = true;
    while (peer.receive(&datagram, 5000)) {
        if (first) StageRecorder::say(first_answer(datagram).c_str());
        first = false;
        if (tftp_opcode(datagram) == TFTP_OPCODE_OACK) peer.send(server_port, tftp_ack(0));
        if (tftp_opcode(datagram) != TFTP_OPCODE_DATA) continue;
        peer.send(server_port, tftp_ack(tftp_block(datagram)));
        if (datagram.bytes.size() < 4 + 512) return;
    }
    StageRecorder::say("the transfer stopped");
}

// Both stages on one listener: the transition image under the first name, then, once the listener
// has moved the stage on and waits again, the target image under the second; then the end. The
// first request names options and is answered with the OACK, which always carries the image's
// size and the time-out 5; the second names none and gets DATA 1 at once, which is also how the
// listener must read the second request: by its own length, not the longer first one's.
void serve_two_stages() {
    static std::vector<std::uint8_t> transition(600, 0x11), target(1000, 0x22);
    upgrade_state.transition_image = FirmwareImage{transition.data(), 600, {}};
    upgrade_state.target_image = FirmwareImage{target.data(), 1000, {}};
    upgrade_state.stage.store(STAGE_TRANSITION);
    std::strcpy(upgrade_state.tftp_file_name, "/tev1a2b.bi0");
    run_outcome_verified("both stages served");
    static StageRecorder events;
    auto port = static_cast<std::uint16_t>(start_tftp_listener(LOOPBACK_ADDRESS, events));
    UdpTestPeer peer;
    fetch(peer, port, "/tev1a2b.bi0", true);
    for (int waited = 0; upgrade_state.stage.load() != STAGE_TARGET; waited += 10) {
        if (waited > 10000) StageRecorder::say("the stage stayed");
        if (waited > 10000) std::exit(3);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::strcpy(upgrade_state.tftp_file_name, "/tev3c4d.bi1");
    fetch(peer, port, "/tev3c4d.bi1", false);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    StageRecorder::say("still running after the target image");
    std::exit(4);
}

TEST(ListenerStages, TheTargetImageFollowsTheTransitionImageOnTheSamePortThenTheRunEnds) {
    EXPECT_EXIT(serve_two_stages(), ::testing::ExitedWithCode(0),
                "^waiting first\ntransfer of 600\nfirst answer: OACK tsize 600 timeout 5\nended\n"
                "waiting again\ntransfer of 1000\nfirst answer: DATA 1 of 512 bytes\nended\n$");
}

}  // namespace
