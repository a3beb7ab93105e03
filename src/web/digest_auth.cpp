// Digest authentication towards the device: challenge parsing, the digest itself, the header line.
#include "web/digest_auth.h"

#include <cstdio>
#include <cstring>

#include "core/trace.h"
#include "platform/clock.h"
#include "web/text_builder.h"

namespace {

bool equals_ignoring_case(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (x == 0) return true;
    }
}

// Finds pattern (directive name, '=' and the opening quote) anywhere in text and copies the value
// up to the next quote or the end of the text, cut to the field. False when the pattern is absent.
bool take_quoted_value(const char* text, const char* pattern, char* field, std::size_t size) {
    const char* found = std::strstr(text, pattern);
    if (found == nullptr) return false;
    const char* value = found + std::strlen(pattern);
    std::size_t length = 0;
    while (value[length] != 0 && value[length] != '"') ++length;
    if (length > size - 1) length = size - 1;
    std::memcpy(field, value, length);
    field[length] = 0;
    return true;
}

// An optional directive: its value when present, else empty.
void take_optional_value(const char* text, const char* pattern, char* field, std::size_t size) {
    if (!take_quoted_value(text, pattern, field, size)) field[0] = 0;
}

void md5_text(Md5Context* context, const char* text) {
    md5_update(context, text, static_cast<std::uint32_t>(std::strlen(text)));
}

void md5_hex_of(const char* text, char out[MD5_HEX_SIZE]) {
    Md5Context context;
    md5_init(&context);
    md5_text(&context, text);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    hex_digest(digest, out);
}

}  // namespace

int parse_digest_challenge(const char* text, DigestAuthState* auth) {
    if (!take_quoted_value(text, "realm=\"", auth->realm, sizeof auth->realm) ||
        !take_quoted_value(text, "nonce=\"", auth->nonce, sizeof auth->nonce)) {
        trace("Digest challenge without a quoted realm and nonce: not taken\n");
        return 1;
    }
    bool new_nonce = std::strcmp(auth->nonce, auth->previous_nonce) != 0;
    if (new_nonce) {
        copy_text(auth->previous_nonce, sizeof auth->previous_nonce, auth->nonce);
        auth->nonce_count = 0;
    }
    // A fresh client nonce for every challenge taken, even when the nonce is the same.
    std::snprintf(auth->cnonce, sizeof auth->cnonce, "%x", static_cast<unsigned>(random_next()));
    take_optional_value(text, "algorithm=\"", auth->algorithm, sizeof auth->algorithm);
    take_optional_value(text, "qop=\"", auth->qop, sizeof auth->qop);
    take_optional_value(text, "opaque=\"", auth->opaque, sizeof auth->opaque);
    // Never the password nor the response: the log goes to other people.
    trace("Digest challenge taken: realm \"%s\", qop \"%s\", algorithm \"%s\", %s%s\n",
          auth->realm, auth->qop, auth->algorithm, new_nonce ? "new nonce" : "same nonce",
          auth->opaque[0] != 0 ? ", with opaque" : "");
    return 0;
}

void digest_calc_ha1(const char* algorithm, const char* user_name, const char* realm,
                     const char* password, const char* nonce, const char* cnonce,
                     char out[MD5_HEX_SIZE]) {
    Md5Context context;
    md5_init(&context);
    md5_text(&context, user_name);
    md5_text(&context, ":");
    md5_text(&context, realm);
    md5_text(&context, ":");
    md5_text(&context, password);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    if (equals_ignoring_case(algorithm, "md5-sess")) {
        // The device hashes the raw 16 bytes here, not their hexadecimal text.
        md5_init(&context);
        md5_update(&context, digest, MD5_DIGEST_SIZE);
        md5_text(&context, ":");
        md5_text(&context, nonce);
        md5_text(&context, ":");
        md5_text(&context, cnonce);
        md5_final(digest, &context);
    }
    hex_digest(digest, out);
}

void digest_calc_response(const char* ha1, const char* nonce, const char* nonce_count,
                          const char* cnonce, const char* qop, const char* method, const char* uri,
                          const char* entity_body, char out[MD5_HEX_SIZE]) {
    Md5Context context;
    md5_init(&context);
    md5_text(&context, method);
    md5_text(&context, ":");
    md5_text(&context, uri);
    if (equals_ignoring_case(qop, "auth-int")) {
        char entity_hash[MD5_HEX_SIZE];
        md5_hex_of(entity_body, entity_hash);
        md5_text(&context, ":");
        md5_text(&context, entity_hash);
    }
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    char ha2[MD5_HEX_SIZE];
    hex_digest(digest, ha2);

    md5_init(&context);
    md5_text(&context, ha1);
    md5_text(&context, ":");
    md5_text(&context, nonce);
    md5_text(&context, ":");
    if (qop[0] != 0) {
        md5_text(&context, nonce_count);
        md5_text(&context, ":");
        md5_text(&context, cnonce);
        md5_text(&context, ":");
        md5_text(&context, qop);
        md5_text(&context, ":");
    }
    md5_text(&context, ha2);
    md5_final(digest, &context);
    hex_digest(digest, out);
}

void compute_digest_response(const char* nonce, const char* cnonce, const char* user_name,
                             const char* realm, const char* password, const char* algorithm,
                             const char* nonce_count, const char* method, const char* qop,
                             const char* uri, const char* entity_body, char out[MD5_HEX_SIZE]) {
    char ha1[MD5_HEX_SIZE];
    digest_calc_ha1(algorithm, user_name, realm, password, nonce, cnonce, ha1);
    digest_calc_response(ha1, nonce, nonce_count, cnonce, qop, method, uri, entity_body, out);
}

int build_authorization_header(const DigestAuthState* auth, char* out, std::size_t size) {
    char nonce_count[NONCE_COUNT_TEXT_SIZE] = "";
    if (auth->qop[0] != 0) {
        std::snprintf(nonce_count, sizeof nonce_count, "%09x", auth->nonce_count);
    }
    char response[MD5_HEX_SIZE];
    compute_digest_response(auth->nonce, auth->cnonce, auth->user_name, auth->realm,
                            auth->password, auth->algorithm, nonce_count, "GET", auth->qop,
                            auth->uri, "", response);

    TextBuilder line;
    text_begin(&line, out, size);
    text_append(&line,
                "Authorization: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\","
                "algorithm=\"%s\",response=\"%s\"",
                auth->user_name, auth->realm, auth->nonce, auth->uri, auth->algorithm, response);
    if (auth->opaque[0] != 0) text_append(&line, ",opaque=\"%s\"", auth->opaque);
    if (auth->qop[0] != 0) {
        text_append(&line, ",qop=%s,nc=%09x,cnonce=\"%s\"", auth->qop, auth->nonce_count,
                    auth->cnonce);
    }
    text_append(&line, "\r\n");
    return static_cast<int>(line.length);
}
