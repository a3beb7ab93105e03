// MD5 against RFC 1321's test suite, split inputs, and the system's md5sum.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "web/md5.h"

namespace {

std::string md5_of(const void* data, std::uint32_t length) {
    Md5Context context;
    md5_init(&context);
    md5_update(&context, data, length);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    char text[MD5_HEX_SIZE];
    hex_digest(digest, text);
    return text;
}

std::string md5_of(const std::string& text) {
    return md5_of(text.data(), static_cast<std::uint32_t>(text.size()));
}

std::string md5_in_pieces(const std::vector<std::uint8_t>& data, std::size_t piece) {
    Md5Context context;
    md5_init(&context);
    for (std::size_t at = 0; at < data.size(); at += piece) {
        std::size_t length = std::min(piece, data.size() - at);
        md5_update(&context, data.data() + at, static_cast<std::uint32_t>(length));
        md5_update(&context, data.data(), 0);
    }
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    char text[MD5_HEX_SIZE];
    hex_digest(digest, text);
    return text;
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5_of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5_of("1234567890123456789012345678901234567890"
                     "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// Where the padding and the length fit the last block, and where they spill into a block of their
// own: "a" repeated, digests as other MD5 implementations give them.
TEST(Md5, LengthsAroundThePaddingBoundary) {
    const std::pair<std::size_t, const char*> known[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {119, "8a7bd0732ed6a28ce75f6dabc90e1613"},
        {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
    };
    for (const auto& [length, digest] : known) {
        EXPECT_EQ(md5_of(std::string(length, 'a').c_str()), digest) << length << " bytes";
    }
}

TEST(Md5, AnySplitOfTheInputGivesTheSameDigest) {
    std::vector<std::uint8_t> data(1000);
    std::mt19937 generator(7);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(generator());
    std::string whole = md5_of(data.data(), static_cast<std::uint32_t>(data.size()));
    for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 999u}) {
        EXPECT_EQ(md5_in_pieces(data, piece), whole) << "pieces of " << piece;
    }
    // Lengths around the padding boundary (55, 56, 63, 64 bytes) each give a different digest.
    EXPECT_NE(md5_of(data.data(), 55), md5_of(data.data(), 56));
    EXPECT_NE(md5_of(data.data(), 63), md5_of(data.data(), 64));
}

TEST(Md5, ContextIsAllZeroAfterFinal) {
    Md5Context context;
    md5_init(&context);
    md5_update(&context, "secret password", 15);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&context);
    for (std::size_t i = 0; i < sizeof context; ++i) EXPECT_EQ(bytes[i], 0) << i;
}

TEST(Md5, AgreesWithMd5sumOnALargeRandomInput) {
    std::vector<std::uint8_t> data(3 * 1024 * 1024 + 17);
    std::mt19937 generator(2026);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(generator());
    // A name of this process's own: test runs of other trees share the folder.
    std::string path =
        ::testing::TempDir() + "md5_large_input." + std::to_string(getpid()) + ".bin";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), file), data.size());
    std::fclose(file);
    std::FILE* pipe = popen(("md5sum " + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    std::remove(path.c_str());
    EXPECT_EQ(md5_in_pieces(data, 4093), std::string(line, 32));
}

}  // namespace
