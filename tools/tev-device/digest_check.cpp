// Server-side digest check: one current nonce that expires by use count or age, and a verdict for
// every request. Written from RFC 2617 on its own, apart from the upgrader's client side.
#include "digest_check.h"

#include <openssl/evp.h>
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "device_log.h"
#include "digest_credentials.h"
#include "web/md5.h"

namespace {

void md5_of(const std::string& text, std::uint8_t digest[MD5_DIGEST_SIZE]) {
    Md5Context context;
    md5_init(&context);
    md5_update(&context, text.data(), static_cast<std::uint32_t>(text.size()));
    md5_final(digest, &context);
}

std::string md5_hex(const std::string& text) {
    std::uint8_t digest[MD5_DIGEST_SIZE];
    char hex[MD5_HEX_SIZE];
    md5_of(text, digest);
    hex_digest(digest, hex);
    return hex;
}

bool same_text_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool is_sha256(const std::string& algorithm) {
    return same_text_ignoring_case(algorithm, "SHA-256") || same_text_ignoring_case(algorithm, "SHA-256-sess");
}

bool is_sess(const std::string& algorithm) {
    return same_text_ignoring_case(algorithm, "MD5-sess") || same_text_ignoring_case(algorithm, "SHA-256-sess");
}

std::string sha256_hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    static const char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += DIGITS[digest[i] >> 4];
        hex += DIGITS[digest[i] & 0x0f];
    }
    return hex;
}

// H() of RFC 7616 3.4 for the algorithm: SHA-256 for the SHA-256 pair, MD5 for everything else.
std::string hash_hex(const std::string& algorithm, const std::string& text) {
    return is_sha256(algorithm) ? sha256_hex(text) : md5_hex(text);
}

// The Digest algorithms the 401 answer offers, "" for a challenge that names none.
std::vector<std::string> offered_algorithms(const DeviceOptions& o) {
    if (o.challenges.empty()) return {o.algorithm};
    std::vector<std::string> offered;
    for (const std::string& challenge : o.challenges) {
        if (same_text_ignoring_case(challenge, "Basic")) continue;
        offered.push_back(challenge == "none" ? "" : challenge);
    }
    return offered;
}

// Absent and empty both mean MD5 (RFC 2617 3.2.1).
std::string effective_algorithm(const std::string& algorithm) { return algorithm.empty() ? "MD5" : algorithm; }

// An answer names the algorithm the challenge named, as Apache httpd requires: an absent one means
// MD5, and an empty value passes only when the challenge named none.
bool algorithm_as_challenged(const std::string& challenged, const std::optional<std::string>& answered) {
    if (!answered) return same_text_ignoring_case(effective_algorithm(challenged), "MD5");
    if (challenged.empty()) return answered->empty() || same_text_ignoring_case(*answered, "MD5");
    return same_text_ignoring_case(*answered, challenged);
}

// The offered algorithm the answer names; false when it names none of them.
bool answered_algorithm(const DeviceOptions& o, const std::optional<std::string>& answered, std::string* algorithm) {
    for (const std::string& challenged : offered_algorithms(o)) {
        if (algorithm_as_challenged(challenged, answered)) {
            *algorithm = effective_algorithm(challenged);
            return true;
        }
    }
    return false;
}

bool offered_qop(const std::string& offered, const std::string& qop) {
    std::size_t start = 0;
    while (start <= offered.size()) {
        std::size_t comma = offered.find(',', start);
        if (comma == std::string::npos) comma = offered.size();
        if (same_text_ignoring_case(offered.substr(start, comma - start), qop)) return true;
        start = comma + 1;
    }
    return false;
}

bool all_hex(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

void issue_nonce(DigestServer* server, std::int64_t now_ms) {
    ++server->nonce_serial;
    if (server->nonce_serial == 1 && !server->options->first_nonce.empty()) {
        server->nonce = server->options->first_nonce;
    } else {
        char seed_text[64];
        std::snprintf(seed_text, sizeof seed_text, "tev-nonce:%u:%u", server->options->seed, server->nonce_serial);
        server->nonce = md5_hex(seed_text);
    }
    server->nonce_issued_ms = now_ms;
    server->nonce_uses = 0;
}

bool nonce_expired(const DigestServer* server, std::int64_t now_ms) {
    const DeviceOptions& o = *server->options;
    if (o.nonce_uses > 0 && server->nonce_uses >= o.nonce_uses) return true;
    return o.nonce_lifetime_ms > 0 && now_ms - server->nonce_issued_ms >= o.nonce_lifetime_ms;
}

AuthVerdict verdict(AuthOutcome outcome, const std::string& reason) { return AuthVerdict{outcome, reason}; }

// The checks that need no hashing; an empty reason when all pass.
AuthVerdict check_directives(const DigestServer* server, const HttpRequest& request, const DigestCredentials& c) {
    const DeviceOptions& o = *server->options;
    if (!c.username || !c.realm || !c.nonce || !c.uri || !c.response) {
        return verdict(AuthOutcome::BAD_REQUEST, "username, realm, nonce, uri or response missing");
    }
    if (*c.uri != request.target) return verdict(AuthOutcome::BAD_REQUEST, "uri \"" + *c.uri + "\" is not the request's");
    if (*c.realm != o.realm) return verdict(AuthOutcome::WRONG, "realm \"" + *c.realm + "\" is not ours");
    if (*c.username != o.user) return verdict(AuthOutcome::WRONG, "unknown user \"" + *c.username + "\"");
    if (!o.opaque.empty() && c.opaque.value_or("") != o.opaque) {
        return verdict(AuthOutcome::WRONG, "opaque \"" + c.opaque.value_or("(none)") + "\" is not ours");
    }
    std::string algorithm;
    if (!answered_algorithm(o, c.algorithm, &algorithm)) {
        return verdict(AuthOutcome::WRONG, "algorithm \"" + c.algorithm.value_or("") + "\" was not offered");
    }
    bool has_qop = c.qop.has_value() && !c.qop->empty();
    if (o.qop.empty() && has_qop) return verdict(AuthOutcome::WRONG, "qop \"" + *c.qop + "\" was not offered");
    if (!o.qop.empty() && !has_qop) return verdict(AuthOutcome::WRONG, "qop missing");
    if (has_qop && !offered_qop(o.qop, *c.qop)) {
        return verdict(AuthOutcome::WRONG, "qop \"" + *c.qop + "\" is not one of \"" + o.qop + "\"");
    }
    if (has_qop && (!c.nc || !all_hex(*c.nc) || !c.cnonce)) {
        return verdict(AuthOutcome::BAD_REQUEST, "qop without a hexadecimal nc or without cnonce");
    }
    // RFC 7616 writes the count as exactly eight digits, and servers that offer SHA-256 hold a
    // client to it; the TEV's MD5 takes any width (the upgrader sends nine).
    if (has_qop && is_sha256(algorithm) && c.nc->size() != 8) {
        return verdict(AuthOutcome::BAD_REQUEST, "nc \"" + *c.nc + "\" is not the eight digits RFC 7616 wants with " + algorithm);
    }
    if (is_sess(algorithm) && c.cnonce.value_or("").empty()) {
        return verdict(AuthOutcome::WRONG, algorithm + " without cnonce");
    }
    return verdict(AuthOutcome::ACCEPTED, "");
}

bool response_matches(const DigestServer* server, const HttpRequest& request, const DigestCredentials& c) {
    const DeviceOptions& o = *server->options;
    std::string algorithm;
    answered_algorithm(o, c.algorithm, &algorithm);
    // The raw form is the TEV's md5-sess; SHA-256-sess hashes the hexadecimal text, as RFC 7616 says.
    bool try_raw = !is_sess(algorithm) || (o.sess_form != SessForm::HEX && !is_sha256(algorithm));
    bool try_hex = is_sess(algorithm) && (o.sess_form != SessForm::RAW || is_sha256(algorithm));
    for (int form = 0; form < 2; ++form) {
        if ((form == 0 && !try_raw) || (form == 1 && !try_hex)) continue;
        std::string expected = expected_digest_response(o.user, o.realm, o.password, algorithm, form == 1, *c.nonce,
                                                        c.nc.value_or(""), c.cnonce.value_or(""),
                                                        c.qop.value_or(""), request.method, *c.uri);
        if (same_text_ignoring_case(expected, *c.response)) return true;
    }
    return false;
}

// A client may count several requests under one nonce with the same cnonce; bringing a cnonce it
// already used to a new nonce is what a replayed answer looks like.
bool replayed_cnonce(const DigestServer* server, const DigestCredentials& c) {
    if (!server->options->refuse_reused_cnonce || !c.cnonce) return false;
    auto seen = server->cnonce_first_nonce.find(*c.cnonce);
    return seen != server->cnonce_first_nonce.end() && seen->second != *c.nonce;
}

}  // namespace

std::string expected_digest_response(const std::string& user, const std::string& realm, const std::string& password,
                                     const std::string& algorithm, bool sess_hex, const std::string& nonce,
                                     const std::string& nc, const std::string& cnonce, const std::string& qop,
                                     const std::string& method, const std::string& uri) {
    std::string ha1 = hash_hex(algorithm, user + ":" + realm + ":" + password);
    if (is_sess(algorithm)) {
        if (sess_hex) {
            ha1 = hash_hex(algorithm, ha1 + ":" + nonce + ":" + cnonce);
        } else {
            std::uint8_t raw[MD5_DIGEST_SIZE];
            md5_of(user + ":" + realm + ":" + password, raw);
            ha1 = md5_hex(std::string(reinterpret_cast<const char*>(raw), MD5_DIGEST_SIZE) + ":" + nonce + ":" + cnonce);
        }
    }
    std::string a2 = method + ":" + uri;
    if (same_text_ignoring_case(qop, "auth-int")) {
        a2 += ':';
        a2 += hash_hex(algorithm, "");  // a GET has an empty body
    }
    std::string ha2 = hash_hex(algorithm, a2);
    if (qop.empty()) return hash_hex(algorithm, ha1 + ":" + nonce + ":" + ha2);
    return hash_hex(algorithm, ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
}

void digest_start(DigestServer* server, const DeviceOptions* options, std::int64_t now_ms) {
    server->options = options;
    server->nonce_serial = 0;
    issue_nonce(server, now_ms);
}

AuthVerdict digest_check(DigestServer* server, const HttpRequest& request, std::int64_t now_ms) {
    if (nonce_expired(server, now_ms)) {
        std::string old_nonce = server->nonce;
        issue_nonce(server, now_ms);
        log_event("auth: nonce \"%s\" expired, new nonce \"%s\"", old_nonce.c_str(), server->nonce.c_str());
    }
    if (!request.has_authorization) return verdict(AuthOutcome::CHALLENGE, "no credentials");
    DigestCredentials credentials;
    bool is_digest = false;
    std::string error = parse_digest_credentials(request.authorization, &credentials, &is_digest);
    if (!is_digest) return verdict(AuthOutcome::CHALLENGE, error);
    if (!error.empty()) return verdict(AuthOutcome::BAD_REQUEST, error);
    AuthVerdict early = check_directives(server, request, credentials);
    if (early.outcome != AuthOutcome::ACCEPTED) return early;
    bool matches = response_matches(server, request, credentials);
    std::string counter = credentials.nc ? " nc " + *credentials.nc : "";
    if (*credentials.nonce != server->nonce) {
        if (matches) return verdict(AuthOutcome::STALE, "nonce \"" + *credentials.nonce + "\" is stale");
        return verdict(AuthOutcome::WRONG, "unknown nonce \"" + *credentials.nonce + "\" and a wrong response");
    }
    if (!matches) return verdict(AuthOutcome::WRONG, "response does not match" + counter);
    if (replayed_cnonce(server, credentials)) {
        return verdict(AuthOutcome::WRONG, "cnonce \"" + *credentials.cnonce + "\" was used with nonce \"" +
                                               server->cnonce_first_nonce[*credentials.cnonce] + "\"");
    }
    if (credentials.cnonce) server->cnonce_first_nonce.emplace(*credentials.cnonce, *credentials.nonce);
    ++server->nonce_uses;
    // Which challenge was answered, where there was a choice or a hash other than MD5.
    std::string answered = credentials.algorithm.value_or("");
    if (!server->options->challenges.empty() || is_sha256(answered)) {
        log_event("auth: the answer names algorithm \"%s\"", answered.c_str());
    }
    return verdict(AuthOutcome::ACCEPTED, "user \"" + *credentials.username + "\"" + counter);
}

namespace {

std::string one_challenge(const DeviceOptions& o, const std::string& nonce, const std::string& algorithm, bool stale) {
    if (same_text_ignoring_case(algorithm, "Basic")) return "WWW-Authenticate: Basic realm=\"" + o.realm + "\"\r\n";
    std::string line = "WWW-Authenticate: Digest realm=\"" + o.realm + "\", nonce=\"" + nonce + "\"";
    if (!o.qop.empty()) line += ", qop=\"" + o.qop + "\"";
    if (!algorithm.empty() && algorithm != "none") {
        line += o.algorithm_unquoted ? ", algorithm=" + algorithm : ", algorithm=\"" + algorithm + "\"";
    }
    if (!o.opaque.empty()) line += ", opaque=\"" + o.opaque + "\"";
    if (stale) line += ", stale=true";
    return line + "\r\n";
}

}  // namespace

std::string digest_challenge_line(const DigestServer* server, bool stale) {
    const DeviceOptions& o = *server->options;
    if (o.challenges.empty()) return one_challenge(o, server->nonce, o.algorithm, stale);
    std::string lines;
    for (const std::string& challenge : o.challenges) lines += one_challenge(o, server->nonce, challenge, stale);
    return lines;
}
