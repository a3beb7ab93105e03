// Fuzz target: the status line of an answer and the digest challenge in it, then the
// Authorization line built from whatever challenge was taken, with fields as long as they go.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "web/digest_auth.h"
#include "web/http_headers.h"
#include "web/http_client.h"

namespace {

bool terminated(const char* field, std::size_t size) { return std::memchr(field, 0, size) != nullptr; }

void require_fields_terminated(const DigestAuthState& auth) {
    fuzz_require(terminated(auth.previous_nonce, sizeof auth.previous_nonce) &&
                     terminated(auth.nonce, sizeof auth.nonce) &&
                     terminated(auth.cnonce, sizeof auth.cnonce) &&
                     terminated(auth.realm, sizeof auth.realm) &&
                     terminated(auth.qop, sizeof auth.qop) &&
                     terminated(auth.algorithm, sizeof auth.algorithm) &&
                     terminated(auth.opaque, sizeof auth.opaque),
                 "every challenge field is NUL-terminated inside its buffer");
}

bool is_lower_hex(const char* text) {
    for (; *text != 0; ++text) {
        if (!((*text >= '0' && *text <= '9') || (*text >= 'a' && *text <= 'f'))) return false;
    }
    return true;
}

std::string quoted(const char* value) {
    std::string text = "\"";
    for (; *value != 0; ++value) {
        if (*value == '"' || *value == '\\') text += '\\';
        text += *value;
    }
    return text + "\"";
}

// Credentials and uri at their longest, so the line is as long as the fields allow.
void fill_longest_credentials(DigestAuthState* auth) {
    std::memset(auth->user_name, 'u', sizeof auth->user_name - 1);
    auth->user_name[sizeof auth->user_name - 1] = 0;
    std::memset(auth->password, 'p', sizeof auth->password - 1);
    auth->password[sizeof auth->password - 1] = 0;
    std::memset(auth->uri, '/', sizeof auth->uri - 1);
    auth->uri[sizeof auth->uri - 1] = 0;
}

void check_authorization_line(DigestAuthState* auth) {
    fuzz_require(auth->cnonce[0] != 0 && std::strlen(auth->cnonce) <= 4 && is_lower_hex(auth->cnonce),
                 "the client nonce is 1 to 4 lower-case hex digits");
    fill_longest_credentials(auth);
    auth->nonce_count += 1;
    char line[AUTH_HEADER_SIZE];
    int length = build_authorization_header(auth, line, sizeof line);
    fuzz_require(length >= 0 && static_cast<std::size_t>(length) == std::strlen(line),
                 "the header length is the length of the text written");
    fuzz_require(length >= 2 && std::strcmp(line + length - 2, "\r\n") == 0,
                 "the whole line fits its buffer, CR LF included");
    // The values go in quoted and escaped, the algorithm quoted but for SHA-256 (a bare token, as
    // RFC 7616 writes it), so the line starts with exactly this, then the response.
    bool sha256 = equals_ignoring_case(auth->algorithm, "SHA-256") ||
                  equals_ignoring_case(auth->algorithm, "SHA-256-sess");
    std::string start = "Authorization: Digest username=" + quoted(auth->user_name) + ",realm=" +
                        quoted(auth->realm) + ",nonce=" + quoted(auth->nonce) + ",uri=" + quoted(auth->uri) +
                        ",algorithm=" + (sha256 ? std::string(auth->algorithm) : quoted(auth->algorithm)) +
                        ",response=\"";
    fuzz_require(std::strncmp(line, start.c_str(), start.size()) == 0, "the directives stand in their order");
    // SHA-256 gives 64 digits, MD5 (and any name this client hashes as MD5) 32.
    std::size_t digits = sha256 ? 64 : 32;
    char digest[DIGEST_HEX_SIZE] = {};
    std::memcpy(digest, line + start.size(), digits);
    fuzz_require(std::strlen(digest) == digits && is_lower_hex(digest) && line[start.size() + digits] == '"',
                 "the response is 32 or 64 hexadecimal digits, as the algorithm says");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<char[]> text = fuzz_text(data, size);
    DigestAuthState auth{};
    int status = classify_http_status(text.get(), &auth);
    require_fields_terminated(auth);
    bool http1x = std::strncmp(text.get(), "HTTP/1.1", 8) == 0 || std::strncmp(text.get(), "HTTP/1.0", 8) == 0;
    fuzz_require((status == HTTP_NOT_HTTP11) == !http1x, "only a text without HTTP/1.0 or HTTP/1.1 is neither");
    fuzz_require(status >= HTTP_NO_STATUS && status <= HTTP_OTHER_STATUS, "a known classification");
    if (status == HTTP_AUTH_CHALLENGE) {
        fuzz_require(auth.nonce_count == 0, "a first challenge starts the count afresh");
        // The same challenge again keeps the count: the nonce has not changed.
        auth.nonce_count = 5;
        fuzz_require(classify_http_status(text.get(), &auth) == HTTP_AUTH_CHALLENGE && auth.nonce_count == 5,
                     "a repeated nonce keeps its count");
        check_authorization_line(&auth);
    }
    // The challenge parser also meets the text from its start, whatever the status line says.
    DigestAuthState direct{};
    if (parse_digest_challenge(text.get(), &direct) == 0) {
        require_fields_terminated(direct);
        check_authorization_line(&direct);
    }
    return 0;
}
