// What the listener makes of each datagram before a transfer, and the walk over taken ports.
#include "tftp/tftp_listener.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/upgrade_state.h"
#include "platform/net_address.h"
#include "test_support.h"
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
