// Digest authentication towards the device: challenge parsing, the digest itself, the header line.
#include "web/digest_auth.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "core/trace.h"
#include "platform/clock.h"
#include "platform/sha256.h"
#include "web/http_headers.h"
#include "web/text_builder.h"

namespace {

// A directive's name or value as it stands in the answer (not NUL-terminated); a quoted value
// without its quotes, its backslash escapes still in it.
struct TextSpan {
    const char* start;
    std::size_t length;
    bool quoted = false;
};

// What a challenge gives: each directive the client uses, with whether it was there.
// userhash and charset (RFC 7616) are read only to be logged: the user name goes as typed, which a
// server offering userhash=true must still accept.
struct ChallengeValues {
    TextSpan realm, nonce, qop, algorithm, opaque, userhash, charset;
    bool has_realm, has_nonce, has_qop, has_algorithm, has_opaque, has_userhash, has_charset;
};

bool ends_line(char c) { return c == 0 || c == '\r' || c == '\n'; }
bool is_token_char(char c) { return !ends_line(c) && !is_blank(c) && c != ',' && c != '=' && c != '"'; }

const char* skip_blanks(const char* at) {
    while (is_blank(*at)) ++at;
    return at;
}

const char* skip_separators(const char* at) {
    while (is_blank(*at) || *at == ',') ++at;
    return at;
}

TextSpan read_token(const char* at) {
    TextSpan token{at, 0};
    while (is_token_char(at[token.length])) ++token.length;
    return token;
}

// A value: a quoted string (its text between the quotes, a backslash keeping the next character
// in it) or a bare token, which ends at a comma, a blank or the end of the line. Returns the
// position after it.
const char* read_value(const char* at, TextSpan* value) {
    value->quoted = *at == '"';
    if (!value->quoted) {
        value->start = at;
        value->length = 0;
        while (!ends_line(at[value->length]) && !is_blank(at[value->length]) && at[value->length] != ',') {
            ++value->length;
        }
        return at + value->length;
    }
    ++at;
    value->start = at;
    while (!ends_line(*at) && *at != '"') {
        if (*at == '\\' && !ends_line(at[1])) ++at;
        ++at;
    }
    value->length = static_cast<std::size_t>(at - value->start);
    return *at == '"' ? at + 1 : at;
}

// Past whatever stands before the next comma of the line: what a directive left over.
const char* skip_to_comma(const char* at) {
    while (!ends_line(*at) && *at != ',') {
        if (*at == '"') {
            TextSpan ignored;
            at = read_value(at, &ignored);
        } else {
            ++at;
        }
    }
    return at;
}

// Reads the directive at at (name, '=' and value, blanks around '=' allowed) into name and
// value and returns the position after it; nullptr when what stands there is no directive: the
// end of the line, or the scheme name that starts the next challenge.
const char* read_directive(const char* at, TextSpan* name, TextSpan* value) {
    at = skip_separators(at);
    *name = read_token(at);
    if (name->length == 0) return *at == '=' ? skip_to_comma(at) : nullptr;
    const char* after = skip_blanks(at + name->length);
    if (*after != '=') return nullptr;
    after = skip_blanks(after + 1);
    after = read_value(after, value);
    return skip_to_comma(after);
}

void note_directive(const TextSpan& name, const TextSpan& value, ChallengeValues* values) {
    struct Known {
        const char* name;
        TextSpan ChallengeValues::*field;
        bool ChallengeValues::*present;
    };
    static constexpr Known KNOWN[] = {
        {"realm", &ChallengeValues::realm, &ChallengeValues::has_realm},
        {"nonce", &ChallengeValues::nonce, &ChallengeValues::has_nonce},
        {"qop", &ChallengeValues::qop, &ChallengeValues::has_qop},
        {"algorithm", &ChallengeValues::algorithm, &ChallengeValues::has_algorithm},
        {"opaque", &ChallengeValues::opaque, &ChallengeValues::has_opaque},
        {"userhash", &ChallengeValues::userhash, &ChallengeValues::has_userhash},
        {"charset", &ChallengeValues::charset, &ChallengeValues::has_charset},
    };
    for (const Known& known : KNOWN) {
        // The first of a name counts, as a later repeat would be the server's mistake.
        if (span_equals_ignoring_case(name.start, name.length, known.name) && !(values->*known.present)) {
            values->*known.field = value;
            values->*known.present = true;
        }
    }
}

// Reads the directives of the challenge whose scheme name ends at at; returns where the next
// challenge of the line starts (its scheme name), or nullptr at the end of the line.
const char* read_challenge(const char* at, ChallengeValues* values) {
    for (;;) {
        TextSpan name{};
        TextSpan value{};
        const char* after = read_directive(at, &name, &value);
        if (after == nullptr) {
            at = skip_separators(at);
            return ends_line(*at) ? nullptr : at;
        }
        if (name.length > 0) note_directive(name, value, values);
        at = after;
    }
}

// A Digest challenge this client can answer: realm and nonce, and an algorithm it computes. The
// log tells why another is passed over.
bool answerable(const ChallengeValues& values) {
    if (!values.has_realm || !values.has_nonce) {
        trace("Digest challenge without a realm or a nonce: passed over\n");
        return false;
    }
    if (values.has_algorithm && !digest_algorithm_supported(values.algorithm.start, values.algorithm.length)) {
        trace("Digest challenge with algorithm \"%.*s\": not one this program computes, passed over\n",
              static_cast<int>(values.algorithm.length < 40 ? values.algorithm.length : 40),
              values.algorithm.start);
        return false;
    }
    return true;
}

// The first answerable Digest challenge, scheme name in any case, among the challenges of every
// WWW-Authenticate line from lines on, in header order. False when there is none.
bool find_digest_challenge(const char* lines, ChallengeValues* found) {
    for (const char* line = lines; line != nullptr && !ends_header_block(line); line = next_line(line)) {
        const char* at = header_value(line, "WWW-Authenticate");
        while (at != nullptr) {
            at = skip_separators(at);
            TextSpan scheme = read_token(at);
            if (scheme.length == 0) break;
            ChallengeValues values{};
            at = read_challenge(at + scheme.length, &values);
            if (span_equals_ignoring_case(scheme.start, scheme.length, "Digest") && answerable(values)) {
                *found = values;
                return true;
            }
        }
    }
    return false;
}

// The value as the server means it: a quoted one without its escapes (a realm written
// "a\"b" is a"b, and hashes so), cut to the field.
void copy_span(char* field, std::size_t size, const TextSpan& span) {
    std::size_t length = 0;
    for (std::size_t at = 0; at < span.length && length + 1 < size; ++at) {
        if (span.quoted && span.start[at] == '\\' && at + 1 < span.length) ++at;
        field[length++] = span.start[at];
    }
    field[length] = 0;
}

// An optional directive: its value when present, else empty.
void copy_optional(char* field, std::size_t size, bool present, const TextSpan& span) {
    if (present) {
        copy_span(field, size, span);
    } else {
        field[0] = 0;
    }
}

// The qop to use: "auth" when the list offers it (the client does not protect bodies), else the
// value as offered.
void choose_qop(const TextSpan& offered, char* field, std::size_t size) {
    const char* item = offered.start;
    const char* end = offered.start + offered.length;
    while (item < end) {
        const char* comma = item;
        while (comma < end && *comma != ',') ++comma;
        const char* first = item;
        const char* last = comma;
        while (first < last && is_blank(*first)) ++first;
        while (last > first && is_blank(last[-1])) --last;
        if (span_equals_ignoring_case(first, static_cast<std::size_t>(last - first), "auth")) {
            copy_span(field, size, TextSpan{first, static_cast<std::size_t>(last - first), offered.quoted});
            return;
        }
        item = comma + 1;
    }
    copy_span(field, size, offered);
}

void md5_text(Md5Context* context, const char* text) {
    md5_update(context, text, static_cast<std::uint32_t>(std::strlen(text)));
}

enum class DigestHash { MD5, SHA256 };

// What an algorithm name asks for; an unknown name is known == false and hashes as MD5.
struct DigestAlgorithm {
    bool known;
    DigestHash hash;
    bool session;
};

DigestAlgorithm read_algorithm(const char* name, std::size_t length) {
    struct Named {
        const char* name;
        DigestAlgorithm algorithm;
    };
    static constexpr Named NAMES[] = {
        {"MD5", {true, DigestHash::MD5, false}},
        {"MD5-sess", {true, DigestHash::MD5, true}},
        {"SHA-256", {true, DigestHash::SHA256, false}},
        {"SHA-256-sess", {true, DigestHash::SHA256, true}},
    };
    if (length == 0) return NAMES[0].algorithm;  // none named: MD5
    for (const Named& named : NAMES) {
        if (span_equals_ignoring_case(name, length, named.name)) return named.algorithm;
    }
    return DigestAlgorithm{false, DigestHash::MD5, false};
}

DigestAlgorithm read_algorithm(const char* name) { return read_algorithm(name, std::strlen(name)); }

void hex_text(const std::uint8_t* digest, int size, char* out) {
    static const char DIGITS[] = "0123456789abcdef";
    for (int i = 0; i < size; ++i) {
        out[2 * i] = DIGITS[digest[i] >> 4];
        out[2 * i + 1] = DIGITS[digest[i] & 0x0F];
    }
    out[2 * size] = 0;
}

// The longest text hashed at once: a response over two hashes, the nonce, the count, the cnonce
// and the qop; every field it joins is bounded by the state record.
constexpr std::size_t HASHED_TEXT_SIZE = 1024;

// The hash of the parts joined, as text. A SHA-256 the system cannot compute gives an empty text,
// which no server accepts (the choice of challenge checks for it first).
void hash_hex(DigestHash hash, std::initializer_list<const char*> parts, char out[DIGEST_HEX_SIZE]) {
    if (hash == DigestHash::MD5) {
        Md5Context context;
        md5_init(&context);
        for (const char* part : parts) md5_text(&context, part);
        std::uint8_t digest[MD5_DIGEST_SIZE];
        md5_final(digest, &context);
        hex_digest(digest, out);
        return;
    }
    char joined[HASHED_TEXT_SIZE];
    TextBuilder text;
    text_begin(&text, joined, sizeof joined);
    for (const char* part : parts) text_append(&text, "%s", part);
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    if (sha256_digest(joined, text.length, digest)) {
        hex_text(digest, SHA256_DIGEST_SIZE, out);
    } else {
        out[0] = 0;
    }
}

// The TEV's md5-sess: the raw 16 bytes of the first hash, not their text, joined to nonce and
// cnonce.
void md5_sess_ha1(const char* user_name, const char* realm, const char* password, const char* nonce,
                  const char* cnonce, char out[DIGEST_HEX_SIZE]) {
    Md5Context context;
    md5_init(&context);
    for (const char* part : {user_name, ":", realm, ":", password}) md5_text(&context, part);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    md5_init(&context);
    md5_update(&context, digest, MD5_DIGEST_SIZE);
    for (const char* part : {":", nonce, ":", cnonce}) md5_text(&context, part);
    md5_final(digest, &context);
    hex_digest(digest, out);
}

// How the answer is written. MD5 and MD5-sess keep the TEV's habits, which the device expects: a
// nonce count of nine digits and the algorithm quoted, even when empty. SHA-256 and SHA-256-sess
// are answered as RFC 7616 writes them, which the servers that offer them follow: eight digits and
// the algorithm as a bare token.
struct AnswerForm {
    int nonce_count_digits;
    bool algorithm_quoted;
};

AnswerForm answer_form(const char* algorithm) {
    if (read_algorithm(algorithm).hash == DigestHash::SHA256) return {8, false};
    return {9, true};
}

// before, then value as a quoted string: what the state holds unescaped goes out escaped.
void put_quoted(TextBuilder* line, const char* before, const char* value) {
    text_append(line, "%s\"", before);
    text_append_escaped(line, value);
    text_append(line, "\"");
}

}  // namespace

int parse_digest_challenge(const char* text, DigestAuthState* auth) {
    ChallengeValues values{};
    if (!find_digest_challenge(text, &values)) {
        trace("No Digest challenge this program can answer: not taken\n");
        return 1;
    }
    copy_span(auth->realm, sizeof auth->realm, values.realm);
    copy_span(auth->nonce, sizeof auth->nonce, values.nonce);
    bool new_nonce = std::strcmp(auth->nonce, auth->previous_nonce) != 0;
    if (new_nonce) {
        copy_text(auth->previous_nonce, sizeof auth->previous_nonce, auth->nonce);
        auth->nonce_count = 0;
    }
    // A fresh client nonce for every challenge taken, even when the nonce is the same.
    std::snprintf(auth->cnonce, sizeof auth->cnonce, "%x", static_cast<unsigned>(random_next()));
    copy_optional(auth->algorithm, sizeof auth->algorithm, values.has_algorithm, values.algorithm);
    if (values.has_qop) {
        choose_qop(values.qop, auth->qop, sizeof auth->qop);
    } else {
        auth->qop[0] = 0;
    }
    copy_optional(auth->opaque, sizeof auth->opaque, values.has_opaque, values.opaque);
    // Never the password nor the response: the log goes to other people.
    trace("Digest challenge taken: realm \"%s\", qop \"%s\", algorithm \"%s\", %s%s\n",
          auth->realm, auth->qop, auth->algorithm, new_nonce ? "new nonce" : "same nonce",
          auth->opaque[0] != 0 ? ", with opaque" : "");
    if (values.has_userhash || values.has_charset) {
        char userhash[AUTH_SHORT_TEXT_SIZE];
        char charset[AUTH_SHORT_TEXT_SIZE];
        copy_optional(userhash, sizeof userhash, values.has_userhash, values.userhash);
        copy_optional(charset, sizeof charset, values.has_charset, values.charset);
        trace("  userhash \"%s\", charset \"%s\": read, the user name goes as typed\n", userhash, charset);
    }
    return 0;
}

bool digest_algorithm_supported(const char* name, std::size_t length) {
    DigestAlgorithm algorithm = read_algorithm(name, length);
    if (!algorithm.known) return false;
    if (algorithm.hash != DigestHash::SHA256) return true;
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    return sha256_digest("", 0, digest);
}

void digest_calc_ha1(const char* algorithm, const char* user_name, const char* realm,
                     const char* password, const char* nonce, const char* cnonce,
                     char out[DIGEST_HEX_SIZE]) {
    DigestAlgorithm chosen = read_algorithm(algorithm);
    if (chosen.session && chosen.hash == DigestHash::MD5) {
        md5_sess_ha1(user_name, realm, password, nonce, cnonce, out);
        return;
    }
    hash_hex(chosen.hash, {user_name, ":", realm, ":", password}, out);
    if (chosen.session) {
        char first[DIGEST_HEX_SIZE];
        std::memcpy(first, out, DIGEST_HEX_SIZE);
        hash_hex(chosen.hash, {first, ":", nonce, ":", cnonce}, out);
    }
}

void digest_calc_response(const char* algorithm, const char* ha1, const char* nonce,
                          const char* nonce_count, const char* cnonce, const char* qop,
                          const char* method, const char* uri, const char* entity_body,
                          char out[DIGEST_HEX_SIZE]) {
    DigestHash hash = read_algorithm(algorithm).hash;
    char ha2[DIGEST_HEX_SIZE];
    if (equals_ignoring_case(qop, "auth-int")) {
        char entity_hash[DIGEST_HEX_SIZE];
        hash_hex(hash, {entity_body}, entity_hash);
        hash_hex(hash, {method, ":", uri, ":", entity_hash}, ha2);
    } else {
        hash_hex(hash, {method, ":", uri}, ha2);
    }
    if (qop[0] != 0) {
        hash_hex(hash, {ha1, ":", nonce, ":", nonce_count, ":", cnonce, ":", qop, ":", ha2}, out);
    } else {
        hash_hex(hash, {ha1, ":", nonce, ":", ha2}, out);
    }
}

void compute_digest_response(const char* nonce, const char* cnonce, const char* user_name,
                             const char* realm, const char* password, const char* algorithm,
                             const char* nonce_count, const char* method, const char* qop,
                             const char* uri, const char* entity_body, char out[DIGEST_HEX_SIZE]) {
    char ha1[DIGEST_HEX_SIZE];
    digest_calc_ha1(algorithm, user_name, realm, password, nonce, cnonce, ha1);
    digest_calc_response(algorithm, ha1, nonce, nonce_count, cnonce, qop, method, uri, entity_body,
                         out);
}

int build_authorization_header(const DigestAuthState* auth, char* out, std::size_t size) {
    AnswerForm form = answer_form(auth->algorithm);
    char nonce_count[NONCE_COUNT_TEXT_SIZE] = "";
    if (auth->qop[0] != 0) {
        std::snprintf(nonce_count, sizeof nonce_count, "%0*x", form.nonce_count_digits,
                      auth->nonce_count);
    }
    char response[DIGEST_HEX_SIZE];
    compute_digest_response(auth->nonce, auth->cnonce, auth->user_name, auth->realm,
                            auth->password, auth->algorithm, nonce_count, "GET", auth->qop,
                            auth->uri, "", response);

    TextBuilder line;
    text_begin(&line, out, size);
    put_quoted(&line, "Authorization: Digest username=", auth->user_name);
    put_quoted(&line, ",realm=", auth->realm);
    put_quoted(&line, ",nonce=", auth->nonce);
    put_quoted(&line, ",uri=", auth->uri);
    if (form.algorithm_quoted) {
        put_quoted(&line, ",algorithm=", auth->algorithm);
    } else {
        text_append(&line, ",algorithm=%s", auth->algorithm);
    }
    put_quoted(&line, ",response=", response);
    if (auth->opaque[0] != 0) put_quoted(&line, ",opaque=", auth->opaque);
    if (auth->qop[0] != 0) {
        text_append(&line, ",qop=%s,nc=%s", auth->qop, nonce_count);
        put_quoted(&line, ",cnonce=", auth->cnonce);
    }
    text_append(&line, "\r\n");
    return static_cast<int>(line.length);
}
