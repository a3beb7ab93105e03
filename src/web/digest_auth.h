// The client side of HTTP digest authentication: taking the device's challenge, computing the
// request digest, and writing the Authorization header line.
#pragma once
#include <cstddef>

#include "core/digest_auth_state.h"
#include "web/md5.h"

// The nonce count as sent: nine hexadecimal digits (the device expects nine) and a NUL.
constexpr int NONCE_COUNT_TEXT_SIZE = 10;
// Room for the longest header line the state's fields can produce, with its NUL.
constexpr int AUTH_HEADER_SIZE = 1024;

// text begins at "WWW-Authenticate:" and runs to the end of the answer. Returns 0 when realm and
// nonce were found and the challenge is taken, 1 otherwise. Values too long for a field are cut.
int parse_digest_challenge(const char* text, DigestAuthState* auth);

// Writes the whole "Authorization: Digest ..." line with its CR LF into out (size bytes, NUL
// included); returns the characters written without the NUL. Never writes past out + size.
int build_authorization_header(const DigestAuthState* auth, char* out, std::size_t size);

void compute_digest_response(const char* nonce, const char* cnonce, const char* user_name,
                             const char* realm, const char* password, const char* algorithm,
                             const char* nonce_count, const char* method, const char* qop,
                             const char* uri, const char* entity_body, char out[MD5_HEX_SIZE]);

// H(A1); "md5-sess" in any case hashes the 16 raw bytes of the first hash with nonce and cnonce.
void digest_calc_ha1(const char* algorithm, const char* user_name, const char* realm,
                     const char* password, const char* nonce, const char* cnonce,
                     char out[MD5_HEX_SIZE]);

// The request digest; qop "auth-int" in any case adds the hash of entity_body to A2.
void digest_calc_response(const char* ha1, const char* nonce, const char* nonce_count,
                          const char* cnonce, const char* qop, const char* method, const char* uri,
                          const char* entity_body, char out[MD5_HEX_SIZE]);
