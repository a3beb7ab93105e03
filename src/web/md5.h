// The MD5 message digest (RFC 1321), computed incrementally, and its lower-case hexadecimal text.
#pragma once
#include <cstdint>

struct Md5Context {
    std::uint32_t state[4];
    std::uint32_t count[2];  // input bits modulo 2^64, low word first
    std::uint8_t buffer[64];
};

constexpr int MD5_DIGEST_SIZE = 16;
constexpr int MD5_HEX_SIZE = 33;  // 32 characters and a NUL

void md5_init(Md5Context* context);
void md5_update(Md5Context* context, const void* input, std::uint32_t length);
// Writes the 16-byte digest, then overwrites the whole context with zero bytes.
void md5_final(std::uint8_t digest[MD5_DIGEST_SIZE], Md5Context* context);
void md5_transform(std::uint32_t state[4], const std::uint8_t block[64]);
void hex_digest(const std::uint8_t digest[MD5_DIGEST_SIZE], char text[MD5_HEX_SIZE]);
