// The socket address a sockaddr is built from: host order in, network order out, and back.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/net_address.h"

namespace {

TEST(SocketAddress, HostOrderInNetworkOrderOutAndBack) {
    NetAddress address;
    std::memset(&address, 0x77, sizeof address);
    fill_sockaddr(0xC0A8026Eu, 23456, &address);
    EXPECT_EQ(address.family, NET_AF_INET);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    EXPECT_EQ(bytes[2], 0x5B);  // 23456 = 0x5BA0, most significant byte first
    EXPECT_EQ(bytes[3], 0xA0);
    EXPECT_EQ(bytes[4], 192);
    EXPECT_EQ(bytes[5], 168);
    EXPECT_EQ(bytes[6], 2);
    EXPECT_EQ(bytes[7], 110);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(bytes[i], 0) << i;

    std::uint32_t host = 0;
    std::uint16_t port = 0;
    read_sockaddr(address, &host, &port);
    EXPECT_EQ(host, 0xC0A8026Eu);
    EXPECT_EQ(port, 23456);

    fill_sockaddr(0, 69, &address);
    EXPECT_EQ(address.address_be, 0u);
}

}  // namespace
