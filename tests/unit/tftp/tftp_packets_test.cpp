// The bytes the TFTP server puts on the wire.
#include <gtest/gtest.h>

#include <string>

#include "tftp/tftp_packets.h"

namespace {

std::string bytes(const std::uint8_t* data, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

TEST(TftpPackets, OptionAcknowledgementCarriesSizeAndTimeoutInOrder) {
    std::uint8_t buffer[64];
    std::size_t length = build_tftp_oack(buffer, 948814);
    ASSERT_EQ(length, 25u);
    EXPECT_EQ(bytes(buffer, length), std::string("\0\6tsize\0" "948814\0timeout\0" "5\0", 25));
    length = build_tftp_oack(buffer, 0);
    ASSERT_EQ(length, 20u);
    EXPECT_EQ(bytes(buffer, length), std::string("\0\6tsize\0" "0\0timeout\0" "5\0", 20));
    length = build_tftp_oack(buffer, 33553919);
    EXPECT_EQ(length, 27u);
}

TEST(TftpPackets, SixteenBitFieldsAreBigEndianAndCutToSixteenBits) {
    std::uint8_t field[2];
    put_u16_be(field, 1854);
    EXPECT_EQ(field[0], 0x07);
    EXPECT_EQ(field[1], 0x3E);
    put_u16_be(field, 0x12345);
    EXPECT_EQ(get_u16_be(field), 0x2345u);
    const std::uint8_t sample[] = {0x12, 0x34};
    EXPECT_EQ(get_u16_be(sample), 4660u);
    const std::uint8_t high[] = {0xFF, 0xFE};
    EXPECT_EQ(get_u16_be(high), 65534u);
}

// The bytes of a literal without the NUL the compiler adds.
template <std::size_t N>
std::string packet(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// RFC 2347: options follow the mode. Only a request that names none is answered without an OACK.
TEST(TftpPackets, AReadRequestNamesOptionsOnlyWithSomethingAfterItsMode) {
    struct Case {
        std::string request;
        bool names_options;
    };
    const Case cases[] = {
        {packet("\0\1/tev1.bi1\0octet\0"), false},
        {packet("\0\1/tev1.bi1\0octet\0\0\0"), false},  // padding names nothing
        {packet("\0\1/tev1.bi1\0octet\0tsize\0" "0\0timeout\0" "5\0"), true},
        {packet("\0\1/tev1.bi1\0octet\0blksize\0" "1428\0"), true},
        {packet("\0\1/tev1.bi1\0oct"), true},  // cut in its mode: answered as before
        {packet("\0\1/tev1.bi1"), true},
    };
    for (const Case& c : cases) {
        const auto* datagram = reinterpret_cast<const std::uint8_t*>(c.request.data());
        EXPECT_EQ(request_names_options(datagram, static_cast<long>(c.request.size())), c.names_options)
            << c.request.size();
    }
}

}  // namespace
