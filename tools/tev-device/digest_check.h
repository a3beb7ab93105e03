// The device's side of HTTP digest authentication (RFC 2617, and RFC 7616's SHA-256): its nonce, its challenge, and the
// check of a client's Authorization header.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "device_options.h"
#include "http_request.h"

struct DigestServer {
    const DeviceOptions* options = nullptr;
    std::string nonce;
    std::int64_t nonce_issued_ms = 0;
    unsigned nonce_uses = 0;  // requests accepted under this nonce
    unsigned nonce_serial = 0;
    // Each client nonce accepted so far, with the server nonce it first came with.
    std::map<std::string, std::string> cnonce_first_nonce;
};

enum class AuthOutcome {
    ACCEPTED,
    CHALLENGE,    // no credentials: 401 with the current nonce
    WRONG,        // credentials refused: 401 repeating the current nonce
    STALE,        // right credentials on an expired nonce: 401 with a new nonce and stale=true
    BAD_REQUEST,  // malformed header or a uri that is not the request's: 400
};

struct AuthVerdict {
    AuthOutcome outcome;
    std::string reason;
};

void digest_start(DigestServer* server, const DeviceOptions* options, std::int64_t now_ms);
// Judges one request; renews the nonce first when it has expired.
AuthVerdict digest_check(DigestServer* server, const HttpRequest& request, std::int64_t now_ms);
// The challenge lines of a 401 answer, one per --challenges item (one by default), each ending in
// CR LF.
std::string digest_challenge_line(const DigestServer* server, bool stale);

// The response a client must send (RFC 2617 3.2.2.1, RFC 7616 3.4.1), hashed with SHA-256 for
// SHA-256 and SHA-256-sess, else MD5; `sess_hex` picks the RFCs' session H(A1) over the
// hexadecimal first hash instead of the 16 raw bytes (SHA-256-sess needs it).
std::string expected_digest_response(const std::string& user, const std::string& realm,
                                     const std::string& password, const std::string& algorithm,
                                     bool sess_hex, const std::string& nonce, const std::string& nc,
                                     const std::string& cnonce, const std::string& qop,
                                     const std::string& method, const std::string& uri);
