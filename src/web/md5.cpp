// MD5 as RFC 1321 gives it: its initial words, auxiliary functions, constants and rotations.
#include "web/md5.h"

#include <cstring>

namespace {

constexpr std::uint32_t SINE_CONSTANTS[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int ROTATIONS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

std::uint32_t rotate_left(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void encode_le(std::uint8_t* out, const std::uint32_t* words, int count) {
    for (int i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<std::uint8_t>(words[i] >> (8 * b));
    }
}

}  // namespace

void md5_init(Md5Context* context) {
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void md5_transform(std::uint32_t state[4], const std::uint8_t block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<std::uint32_t>(block[i * 4]) |
               static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
               static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 |
               static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int step = 0; step < 64; ++step) {
        int round = step / 16;
        std::uint32_t f;
        int word;
        switch (round) {
            case 0: f = (b & c) | (~b & d); word = step; break;
            case 1: f = (b & d) | (c & ~d); word = (5 * step + 1) % 16; break;
            case 2: f = b ^ c ^ d; word = (3 * step + 5) % 16; break;
            default: f = c ^ (b | ~d); word = (7 * step) % 16; break;
        }
        std::uint32_t sum = a + f + x[word] + SINE_CONSTANTS[step];
        a = d;
        d = c;
        c = b;
        b = b + rotate_left(sum, ROTATIONS[round][step % 4]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    // The block may hold a secret; leave no copy of it behind.
    volatile std::uint32_t* wipe = x;
    for (int i = 0; i < 16; ++i) wipe[i] = 0;
}

void md5_update(Md5Context* context, const void* input, std::uint32_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(input);
    std::uint32_t position = (context->count[0] >> 3) & 0x3F;
    context->count[0] += length << 3;
    if (context->count[0] < (length << 3)) context->count[1]++;
    context->count[1] += length >> 29;
    std::uint32_t room = 64 - position;
    std::uint32_t i = 0;
    if (length >= room) {
        std::memcpy(context->buffer + position, bytes, room);
        md5_transform(context->state, context->buffer);
        for (i = room; i + 63 < length; i += 64) md5_transform(context->state, bytes + i);
        position = 0;
    }
    if (length > i) std::memcpy(context->buffer + position, bytes + i, length - i);
}

void md5_final(std::uint8_t digest[MD5_DIGEST_SIZE], Md5Context* context) {
    std::uint8_t bits[8];
    encode_le(bits, context->count, 2);
    std::uint32_t position = (context->count[0] >> 3) & 0x3F;
    std::uint32_t pad_length = position < 56 ? 56 - position : 120 - position;
    static const std::uint8_t PADDING[64] = {0x80};
    md5_update(context, PADDING, pad_length);
    md5_update(context, bits, 8);
    encode_le(digest, context->state, 4);
    std::memset(context, 0, sizeof *context);
}

void hex_digest(const std::uint8_t digest[MD5_DIGEST_SIZE], char text[MD5_HEX_SIZE]) {
    static const char HEX[] = "0123456789abcdef";
    for (int i = 0; i < MD5_DIGEST_SIZE; ++i) {
        text[i * 2] = HEX[digest[i] >> 4];
        text[i * 2 + 1] = HEX[digest[i] & 0x0F];
    }
    text[MD5_HEX_SIZE - 1] = 0;
}
