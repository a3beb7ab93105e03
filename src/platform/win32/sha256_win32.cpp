// SHA-256 on Windows: the CNG primitives (bcrypt.dll, Windows Vista and later), the system's own.
#include <windows.h>

#include <bcrypt.h>

#include "platform/sha256.h"

namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

// One hash object for one computation: the few digests of a login do not pay for caching.
bool hash_with(BCRYPT_ALG_HANDLE algorithm, const void* data, std::size_t size,
               std::uint8_t out[SHA256_DIGEST_SIZE]) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return false;
    bool done = succeeded(BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)),
                                         static_cast<ULONG>(size), 0)) &&
                succeeded(BCryptFinishHash(hash, out, SHA256_DIGEST_SIZE, 0));
    BCryptDestroyHash(hash);
    return done;
}

}  // namespace

bool sha256_digest(const void* data, std::size_t size, std::uint8_t out[SHA256_DIGEST_SIZE]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    bool done = hash_with(algorithm, data, size, out);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return done;
}
