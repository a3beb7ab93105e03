// SHA-256 from the operating system's own cryptography (digest authentication's stronger hash).
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int SHA256_DIGEST_SIZE = 32;

// The digest of size bytes at data; false when the system could not compute it.
bool sha256_digest(const void* data, std::size_t size, std::uint8_t out[SHA256_DIGEST_SIZE]);
