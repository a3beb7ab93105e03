// What the digest client keeps between requests: the last challenge, the credentials, the counts.
#pragma once
#include <cstdint>

constexpr int AUTH_TEXT_SIZE = 128;
constexpr int AUTH_SHORT_TEXT_SIZE = 16;

struct DigestAuthState {
    std::uint32_t nonce_count;
    char previous_nonce[AUTH_TEXT_SIZE];
    char nonce[AUTH_TEXT_SIZE];
    char cnonce[AUTH_TEXT_SIZE];
    char user_name[AUTH_TEXT_SIZE];
    char password[AUTH_TEXT_SIZE];
    char realm[AUTH_TEXT_SIZE];
    char qop[AUTH_SHORT_TEXT_SIZE];
    char algorithm[AUTH_SHORT_TEXT_SIZE];
    char uri[AUTH_TEXT_SIZE];
    char opaque[AUTH_TEXT_SIZE];
};
