// The directives of a "Digest" Authorization header as the device receives them (RFC 2617 3.2.2).
#pragma once
#include <optional>
#include <string>

struct DigestCredentials {
    std::optional<std::string> username, realm, nonce, uri, response, algorithm, cnonce, opaque, qop, nc;
};

// Parses the header value ("Digest name=value, ..."). Returns an empty text on success, otherwise
// why the value is not a digest answer or is malformed; `is_digest` tells the two apart.
std::string parse_digest_credentials(const std::string& value, DigestCredentials* credentials, bool* is_digest);
