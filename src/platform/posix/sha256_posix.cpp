// SHA-256 on Linux: OpenSSL's libcrypto, the implementation the system keeps up to date.
#include <openssl/evp.h>

#include "platform/sha256.h"

bool sha256_digest(const void* data, std::size_t size, std::uint8_t out[SHA256_DIGEST_SIZE]) {
    unsigned int length = 0;
    return EVP_Digest(data, size, out, &length, EVP_sha256(), nullptr) == 1 &&
           length == SHA256_DIGEST_SIZE;
}
