// The client side of HTTP digest authentication: taking the device's challenge, computing the
// request digest, and writing the Authorization header line.
#pragma once
#include <cstddef>

#include "core/digest_auth_state.h"
#include "web/md5.h"

// A hash as text: 64 hexadecimal characters for SHA-256 (32 for MD5) and a NUL.
constexpr int DIGEST_HEX_SIZE = 65;

// True for the algorithms this client computes, named in any letter case: MD5, MD5-sess,
// SHA-256, SHA-256-sess, and none at all (length 0), which means MD5. SHA-256 counts only when
// the system can compute it.
bool digest_algorithm_supported(const char* name, std::size_t length);

// The nonce count as sent and hashed, and a NUL: nine hexadecimal digits for MD5 and MD5-sess (the
// device expects nine), eight for SHA-256 and SHA-256-sess (RFC 7616).
constexpr int NONCE_COUNT_TEXT_SIZE = 10;
// Room for the longest header line the state's fields can produce, every character of the quoted
// ones escaped, with its NUL.
constexpr int AUTH_HEADER_SIZE = 2048;

// text begins at the answer's header lines and runs to the end of the answer. Takes the first
// Digest challenge, in header order, with a realm, a nonce and an algorithm this client computes;
// returns 0 when one is taken, 1 otherwise. Quoted values are stored without their backslash
// escapes, as the server hashes them; values too long for a field are cut.
int parse_digest_challenge(const char* text, DigestAuthState* auth);

// Writes the whole "Authorization: Digest ..." line with its CR LF into out (size bytes, NUL
// included); returns the characters written without the NUL. Never writes past out + size.
// Quoted values go out escaped ('"' and '\\' after a backslash); parse_digest_challenge stores
// them unescaped.
int build_authorization_header(const DigestAuthState* auth, char* out, std::size_t size);

void compute_digest_response(const char* nonce, const char* cnonce, const char* user_name,
                             const char* realm, const char* password, const char* algorithm,
                             const char* nonce_count, const char* method, const char* qop,
                             const char* uri, const char* entity_body, char out[DIGEST_HEX_SIZE]);

// H(A1) with the algorithm's hash (an unknown name hashes as MD5). "md5-sess" in any case hashes
// the 16 raw bytes of the first hash with nonce and cnonce, as the TEV does; "sha-256-sess" its
// hexadecimal text, as RFC 7616 says.
void digest_calc_ha1(const char* algorithm, const char* user_name, const char* realm,
                     const char* password, const char* nonce, const char* cnonce,
                     char out[DIGEST_HEX_SIZE]);

// The request digest with the algorithm's hash; qop "auth-int" in any case adds the hash of
// entity_body to A2.
void digest_calc_response(const char* algorithm, const char* ha1, const char* nonce,
                          const char* nonce_count, const char* cnonce, const char* qop,
                          const char* method, const char* uri, const char* entity_body,
                          char out[DIGEST_HEX_SIZE]);
