// Digest authentication: the RFC 2617 example, challenge taking, and the exact header lines the
// device checks. Expected digests were computed independently of this code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "web/digest_auth.h"

namespace {

// A state with guard bytes behind it, to catch writes past the last field.
struct GuardedAuth {
    DigestAuthState auth;
    unsigned char guard[256];
};

GuardedAuth fresh_auth() {
    GuardedAuth state;
    std::memset(&state, 0, sizeof state.auth);
    std::memset(state.guard, 0xA5, sizeof state.guard);
    return state;
}

bool guard_intact(const GuardedAuth& state) {
    for (unsigned char byte : state.guard) {
        if (byte != 0xA5) return false;
    }
    return true;
}

// The fields an accepted challenge and the password dialog leave behind, with a fixed cnonce.
DigestAuthState known_auth(const char* qop, const char* algorithm, std::uint32_t count) {
    DigestAuthState auth{};
    std::strcpy(auth.user_name, "admin");
    std::strcpy(auth.password, "tev-secret");
    std::strcpy(auth.realm, "TEV VoIP");
    std::strcpy(auth.nonce, "5f3a9c0d");
    std::strcpy(auth.cnonce, "1a2b");
    std::strcpy(auth.uri, "/admin/advanced");
    std::strcpy(auth.qop, qop);
    std::strcpy(auth.algorithm, algorithm);
    auth.nonce_count = count;
    return auth;
}

std::string header_of(const DigestAuthState& auth) {
    char line[AUTH_HEADER_SIZE];
    int length = build_authorization_header(&auth, line, sizeof line);
    EXPECT_EQ(length, static_cast<int>(std::strlen(line)));
    return line;
}

std::string hex_of_next_draw(std::uint32_t seed, int draws) {
    random_seed(seed);
    int value = 0;
    for (int i = 0; i < draws; ++i) value = random_next();
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

const char* const PREFIX =
    "Authorization: Digest username=\"admin\",realm=\"TEV VoIP\",nonce=\"5f3a9c0d\","
    "uri=\"/admin/advanced\",";

TEST(DigestResponse, Rfc2617Example) {
    char response[DIGEST_HEX_SIZE];
    compute_digest_response("dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b", "Mufasa",
                            "testrealm@host.com", "Circle Of Life", "", "00000001", "GET", "auth",
                            "/dir/index.html", "", response);
    EXPECT_STREQ(response, "6629fae49393a05397450978507c4ef1");
}

TEST(DigestResponse, SessionFormHashesTheRawBytesInAnyCase) {
    char plain[DIGEST_HEX_SIZE];
    char session[DIGEST_HEX_SIZE];
    digest_calc_ha1("MD5", "admin", "TEV VoIP", "tev-secret", "5f3a9c0d", "1a2b", plain);
    EXPECT_STREQ(plain, "807655e44e4c09f0fd591652556071b3");
    for (const char* name : {"MD5-sess", "md5-sess", "Md5-SeSS"}) {
        digest_calc_ha1(name, "admin", "TEV VoIP", "tev-secret", "5f3a9c0d", "1a2b", session);
        // Over the hexadecimal text it would be bdada765...; the device uses the 16 raw bytes.
        EXPECT_STREQ(session, "66a2f08a075c1c7e335087a575c4b5e6") << name;
    }
    digest_calc_ha1("", "admin", "TEV VoIP", "tev-secret", "5f3a9c0d", "1a2b", plain);
    EXPECT_STREQ(plain, "807655e44e4c09f0fd591652556071b3");
}

// RFC 7616 section 3.9.1 (the password with a lower-case "of", as its erratum 4495 says); the
// session value was computed with another SHA-256 implementation, over the hexadecimal H(A1).
TEST(DigestResponse, Rfc7616ExampleWithEachHash) {
    struct Case {
        const char* algorithm;
        const char* response;
    };
    for (const Case& c : {Case{"MD5", "8ca523f5e9506fed4657c9700eebdbec"},
                          Case{"SHA-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
                          Case{"sha-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
                          Case{"SHA-256-sess", "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"}}) {
        char response[DIGEST_HEX_SIZE];
        compute_digest_response("7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v",
                                "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", "Mufasa",
                                "http-auth@example.org", "Circle of Life", c.algorithm, "00000001",
                                "GET", "auth", "/dir/index.html", "", response);
        EXPECT_STREQ(response, c.response) << c.algorithm;
    }
}

TEST(AuthorizationHeader, Sha256IsAnsweredInRfc7616sFormNamingTheAlgorithmAsWritten) {
    EXPECT_EQ(header_of(known_auth("auth", "sha-256", 1)),
              std::string(PREFIX) +
                  "algorithm=sha-256,response=\"8b04562b927fff30f21bdad715eb7d549ef174d36a10979341f81f11c45705b8\","
                  "qop=auth,nc=00000001,cnonce=\"1a2b\"\r\n");
}

// RFC 7616 section 3.9.1: its two challenges (folded over several lines there, each on one line as
// it travels), client nonce and count give its answer, in this program's order of directives.
TEST(AuthorizationHeader, Rfc7616ExampleAsSentOnTheWire) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    ASSERT_EQ(parse_digest_challenge(
                  "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
                  "algorithm=SHA-256, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                  "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n"
                  "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
                  "algorithm=MD5, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                  "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n\r\n",
                  &auth),
              0);
    std::strcpy(auth.user_name, "Mufasa");
    std::strcpy(auth.password, "Circle of Life");
    std::strcpy(auth.uri, "/dir/index.html");
    std::strcpy(auth.cnonce, "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ");
    auth.nonce_count = 1;
    EXPECT_EQ(header_of(auth),
              "Authorization: Digest username=\"Mufasa\",realm=\"http-auth@example.org\","
              "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\",uri=\"/dir/index.html\","
              "algorithm=SHA-256,"
              "response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\","
              "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\",qop=auth,nc=00000001,"
              "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\"\r\n");
}

// Quoted values are hashed without their escapes, as the server hashes them, and go out escaped.
TEST(DigestChallenge, EscapedValuesAreHashedAsTheServerMeansThem) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"TEV \\\"Admin\\\"\", "
                                     "nonce=\"n\\\\1\", qop=auth\r\n",
                                     &auth),
              0);
    EXPECT_STREQ(auth.realm, "TEV \"Admin\"");
    std::strcpy(auth.user_name, "admin");
    std::strcpy(auth.password, "tev-secret");
    std::strcpy(auth.cnonce, "1a2b");
    std::strcpy(auth.uri, "/admin/advanced");
    auth.nonce_count = 1;
    EXPECT_EQ(header_of(auth),
              "Authorization: Digest username=\"admin\",realm=\"TEV \\\"Admin\\\"\",nonce=\"n\\\\1\","
              "uri=\"/admin/advanced\",algorithm=\"\",response=\"6d41a0faebc6dce837b132f15d484581\","
              "qop=auth,nc=000000001,cnonce=\"1a2b\"\r\n");
}

TEST(AuthorizationHeader, RealmAndNonceOnly) {
    EXPECT_EQ(header_of(known_auth("", "", 1)),
              std::string(PREFIX) +
                  "algorithm=\"\",response=\"54cda777797f5871b03516ef83dc0c3a\"\r\n");
}

TEST(AuthorizationHeader, QopAuthWithOpaqueSendsNineDigitNonceCount) {
    DigestAuthState auth = known_auth("auth", "", 1);
    std::strcpy(auth.opaque, "op4q");
    EXPECT_EQ(header_of(auth), std::string(PREFIX) +
                                   "algorithm=\"\",response=\"6d5d1b251b1e2021fab19ffce24734df\","
                                   "opaque=\"op4q\",qop=auth,nc=000000001,cnonce=\"1a2b\"\r\n");
}

TEST(AuthorizationHeader, SessionAlgorithmIsWrittenAsStored) {
    EXPECT_EQ(header_of(known_auth("auth", "Md5-SeSS", 2)),
              std::string(PREFIX) +
                  "algorithm=\"Md5-SeSS\",response=\"83654e96ae854e00df862c32bdf9ae94\","
                  "qop=auth,nc=000000002,cnonce=\"1a2b\"\r\n");
    EXPECT_EQ(header_of(known_auth("auth", "MD5", 2)),
              std::string(PREFIX) +
                  "algorithm=\"MD5\",response=\"6e7af5bb2a439c63868a7b672a4fa117\","
                  "qop=auth,nc=000000002,cnonce=\"1a2b\"\r\n");
}

TEST(AuthorizationHeader, AuthIntHashesTheEmptyBodyButAQopListDoesNot) {
    EXPECT_EQ(header_of(known_auth("auth-int", "", 1)),
              std::string(PREFIX) +
                  "algorithm=\"\",response=\"377588140d4199949163bcac3a726661\","
                  "qop=auth-int,nc=000000001,cnonce=\"1a2b\"\r\n");
    EXPECT_EQ(header_of(known_auth("auth,auth-int", "", 3)),
              std::string(PREFIX) +
                  "algorithm=\"\",response=\"d17f2aeac344b78f2ef3c25e5b1f6cef\","
                  "qop=auth,auth-int,nc=000000003,cnonce=\"1a2b\"\r\n");
}

TEST(AuthorizationHeader, NeverWritesPastTheGivenSize) {
    DigestAuthState auth = known_auth("auth", "", 1);
    char line[64];
    std::memset(line, '#', sizeof line);
    int length = build_authorization_header(&auth, line, 40);
    EXPECT_EQ(length, 39);
    EXPECT_EQ(line[39], 0);
    EXPECT_EQ(std::string(line), std::string(PREFIX).substr(0, 39));
    for (std::size_t i = 40; i < sizeof line; ++i) EXPECT_EQ(line[i], '#') << i;

    // An escape that does not fit is left out whole: a lone backslash would escape the quote
    // that follows.
    std::strcpy(auth.realm, "a\"b");
    length = build_authorization_header(&auth, line, 49);
    EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)),
              "Authorization: Digest username=\"admin\",realm=\"a\"");
}

TEST(AuthorizationHeader, LongestFieldsStillFitTheHeaderSize) {
    DigestAuthState auth{};
    // Quotes throughout: every character of a quoted value is written escaped.
    for (char* field : {auth.user_name, auth.password, auth.realm, auth.nonce, auth.cnonce,
                        auth.uri, auth.opaque}) {
        std::memset(field, '"', AUTH_TEXT_SIZE - 1);
    }
    std::memset(auth.qop, 'q', AUTH_SHORT_TEXT_SIZE - 1);
    std::memset(auth.algorithm, 'a', AUTH_SHORT_TEXT_SIZE - 1);
    auth.nonce_count = 0xffffffffu;
    std::string line = header_of(auth);
    EXPECT_LT(line.size(), static_cast<std::size_t>(AUTH_HEADER_SIZE));
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    EXPECT_NE(line.find(",nc=0ffffffff,"), std::string::npos);
}

TEST(DigestChallenge, TakesEveryDirectiveAndStartsTheCount) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    std::string expected_cnonce = hex_of_next_draw(99, 1);
    random_seed(99);
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest qop=\"auth\", opaque=\"op4q\", "
                                     "realm=\"TEV VoIP\", algorithm=\"MD5\", nonce=\"5f3a9c0d\"\r\n",
                                     &auth),
              0);
    EXPECT_STREQ(auth.realm, "TEV VoIP");
    EXPECT_STREQ(auth.nonce, "5f3a9c0d");
    EXPECT_STREQ(auth.previous_nonce, "5f3a9c0d");
    EXPECT_STREQ(auth.qop, "auth");
    EXPECT_STREQ(auth.algorithm, "MD5");
    EXPECT_STREQ(auth.opaque, "op4q");
    EXPECT_STREQ(auth.cnonce, expected_cnonce.c_str());
    EXPECT_EQ(auth.nonce_count, 0u);
    EXPECT_TRUE(guard_intact(state));
}

TEST(DigestChallenge, SameNonceKeepsTheCountNewNonceResetsItCnonceAlwaysNew) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    const char* challenge = "WWW-Authenticate: Digest realm=\"TEV VoIP\", nonce=\"n-1\"";
    ASSERT_EQ(parse_digest_challenge(challenge, &auth), 0);
    auth.nonce_count = 3;

    std::string second_draw = hex_of_next_draw(5, 2);
    std::string first_draw = hex_of_next_draw(5, 1);
    ASSERT_NE(first_draw, second_draw);
    random_seed(5);
    ASSERT_EQ(parse_digest_challenge(challenge, &auth), 0);
    EXPECT_EQ(auth.nonce_count, 3u);
    EXPECT_STREQ(auth.cnonce, first_draw.c_str());
    ASSERT_EQ(parse_digest_challenge(challenge, &auth), 0);
    EXPECT_EQ(auth.nonce_count, 3u);
    EXPECT_STREQ(auth.cnonce, second_draw.c_str());

    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"TEV VoIP\", nonce=\"n-2\"",
                                     &auth),
              0);
    EXPECT_EQ(auth.nonce_count, 0u);
    EXPECT_STREQ(auth.previous_nonce, "n-2");
}

TEST(DigestChallenge, ALaterChallengeClearsWhatItOmits) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", "
                                     "algorithm=\"MD5-sess\", qop=\"auth\", opaque=\"o\"",
                                     &auth),
              0);
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"r2\", nonce=\"n2\", "
                                     "qop=\"auth-int\"",
                                     &auth),
              0);
    EXPECT_STREQ(auth.realm, "r2");
    EXPECT_STREQ(auth.qop, "auth-int");
    EXPECT_STREQ(auth.algorithm, "");
    EXPECT_STREQ(auth.opaque, "");
}

TEST(DigestChallenge, BareTokenValuesAreTakenAsTheQuotedOnes) {
    // As Apache httpd writes it: algorithm and qop bare, a stale flag after them.
    GuardedAuth bare = fresh_auth();
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"TEV VoIP\", "
                                     "nonce=\"5f3a9c0d\", algorithm=MD5, qop=auth,stale=true",
                                     &bare.auth),
              0);
    EXPECT_STREQ(bare.auth.algorithm, "MD5");
    EXPECT_STREQ(bare.auth.qop, "auth");
    GuardedAuth quoted = fresh_auth();
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"TEV VoIP\", "
                                     "nonce=\"5f3a9c0d\", algorithm=\"MD5\", qop=\"auth\"",
                                     &quoted.auth),
              0);
    for (DigestAuthState* auth : {&bare.auth, &quoted.auth}) {
        std::strcpy(auth->user_name, "admin");
        std::strcpy(auth->password, "tev-secret");
        std::strcpy(auth->cnonce, "1a2b");
        std::strcpy(auth->uri, "/admin/advanced");
        auth->nonce_count = 2;
    }
    EXPECT_EQ(header_of(bare.auth), header_of(quoted.auth));
    EXPECT_EQ(header_of(bare.auth), header_of(known_auth("auth", "MD5", 2)));

    // A bare value ends at a comma, a blank or the end of the line; blanks around '=' are allowed.
    GuardedAuth spaced = fresh_auth();
    ASSERT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm = r1 ,nonce=n-1\tqop=auth,"
                                     "opaque=o\r\nX-Other: algorithm=MD5-sess",
                                     &spaced.auth),
              0);
    EXPECT_STREQ(spaced.auth.realm, "r1");
    EXPECT_STREQ(spaced.auth.nonce, "n-1");
    EXPECT_STREQ(spaced.auth.qop, "");  // after a blank without a comma: not a directive of its own
    EXPECT_STREQ(spaced.auth.opaque, "o");
    EXPECT_STREQ(spaced.auth.algorithm, "");
    EXPECT_TRUE(guard_intact(spaced));
}

TEST(DigestChallenge, AQopListOfferingAuthGivesAuth) {
    struct Case {
        const char* qop;
        const char* chosen;
    };
    for (const Case& c : {Case{"qop=\"auth,auth-int\"", "auth"}, Case{"qop=\"auth-int, auth\"", "auth"},
                          Case{"qop=\"auth-int\"", "auth-int"}, Case{"qop=auth-int", "auth-int"},
                          Case{"qop=\"auth-int,x\"", "auth-int,x"}}) {
        GuardedAuth state = fresh_auth();
        std::string challenge = std::string("WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", ") + c.qop;
        ASSERT_EQ(parse_digest_challenge(challenge.c_str(), &state.auth), 0) << c.qop;
        EXPECT_STREQ(state.auth.qop, c.chosen) << c.qop;
    }
}

TEST(DigestChallenge, TheDigestOneIsChosenAmongSeveral) {
    const char* const answers[] = {
        // Two lines, Basic first.
        "WWW-Authenticate: Basic realm=\"basic\"\r\n"
        "WWW-Authenticate: Digest realm=\"TEV\", nonce=\"n-d\", qop=\"auth\"\r\n",
        // One line, Basic then Digest; Basic's realm and a nonce-like directive are not Digest's.
        "WWW-Authenticate: Basic realm=\"basic\", nonce=\"n-b\", Digest realm=\"TEV\", "
        "nonce=\"n-d\", qop=auth\r\n",
        // A token68 scheme, a Digest without nonce, then the usable one, names in any case.
        "wWw-aUTHENTICATE: Negotiate abc==, DiGeSt realm=\"x\", dIGEST Realm=\"TEV\", "
        "Nonce=\"n-d\", QOP=\"auth\"\r\n",
    };
    for (const char* answer : answers) {
        GuardedAuth state = fresh_auth();
        ASSERT_EQ(parse_digest_challenge(answer, &state.auth), 0) << answer;
        EXPECT_STREQ(state.auth.realm, "TEV") << answer;
        EXPECT_STREQ(state.auth.nonce, "n-d") << answer;
        EXPECT_STREQ(state.auth.qop, "auth") << answer;
        EXPECT_STREQ(state.auth.opaque, "") << answer;
    }
    // Without any Digest challenge nothing is taken, and the body after the empty line is not read.
    GuardedAuth state = fresh_auth();
    EXPECT_EQ(parse_digest_challenge("WWW-Authenticate: Basic realm=\"r\", nonce=\"n\"\r\n", &state.auth), 1);
    EXPECT_EQ(parse_digest_challenge("Server: x\r\n\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"",
                                     &state.auth),
              1);
    EXPECT_EQ(parse_digest_challenge("X-Note: Digest realm=\"r\", nonce=\"n\"\r\n", &state.auth), 1);
    EXPECT_STREQ(state.auth.realm, "");
}

// RFC 7616 section 3.7: the first Digest challenge, in header order, whose algorithm this client
// computes; unknown ones and Basic are passed over.
TEST(DigestChallenge, TheFirstWithAnAlgorithmItComputesIsTaken) {
    struct Case {
        const char* answer;
        const char* algorithm;  // nullptr: none taken
        const char* nonce;
    };
    const Case cases[] = {
        {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n-sha\", algorithm=SHA-256, qop=\"auth\"\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n-md5\", algorithm=MD5, qop=\"auth\"\r\n",
         "SHA-256", "n-sha"},
        {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n-md5\", algorithm=\"md5\"\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n-sha\", algorithm=\"SHA-256\"\r\n",
         "md5", "n-md5"},
        {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n-512\", algorithm=SHA-512-256, userhash=true, "
         "Digest realm=\"r\", nonce=\"n-sess\", algorithm=Sha-256-Sess, charset=UTF-8\r\n",
         "Sha-256-Sess", "n-sess"},
        {"WWW-Authenticate: Basic realm=\"r\"\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n-x\", algorithm=\"SHA-512\"\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n-none\"\r\n",
         "", "n-none"},
        {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n-ms\", algorithm=MD5-SESS\r\n", "MD5-SESS", "n-ms"},
        {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=\"SHA-256x\"\r\n",
         nullptr, nullptr},
        {"WWW-Authenticate: Basic realm=\"r\"\r\n", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        GuardedAuth state = fresh_auth();
        std::strcpy(state.auth.realm, "kept");
        int result = parse_digest_challenge(c.answer, &state.auth);
        if (c.algorithm == nullptr) {
            EXPECT_EQ(result, 1) << c.answer;
            EXPECT_STREQ(state.auth.realm, "kept") << c.answer;
            continue;
        }
        ASSERT_EQ(result, 0) << c.answer;
        EXPECT_STREQ(state.auth.algorithm, c.algorithm) << c.answer;
        EXPECT_STREQ(state.auth.nonce, c.nonce) << c.answer;
        EXPECT_TRUE(guard_intact(state));
    }
}

TEST(DigestChallenge, WithoutRealmOrNonceItIsNotTaken) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    std::strcpy(auth.realm, "old realm");
    std::strcpy(auth.nonce, "old nonce");
    auth.nonce_count = 4;
    EXPECT_EQ(parse_digest_challenge("WWW-Authenticate: Digest nonce=\"n\"", &auth), 1);
    EXPECT_STREQ(auth.realm, "old realm");
    EXPECT_STREQ(auth.nonce, "old nonce");
    // A challenge not taken changes nothing, not even the realm it carries.
    EXPECT_EQ(parse_digest_challenge("WWW-Authenticate: Digest realm=\"new\", cnonce=\"n\"", &auth), 1);
    EXPECT_STREQ(auth.realm, "old realm");
    EXPECT_STREQ(auth.nonce, "old nonce");
    EXPECT_EQ(auth.nonce_count, 4u);
}

TEST(DigestChallenge, OverlongValuesAreCutAtTheirField) {
    GuardedAuth state = fresh_auth();
    DigestAuthState& auth = state.auth;
    std::string long_value(300, 'v');
    std::string challenge = "WWW-Authenticate: Digest realm=\"" + long_value + "\", nonce=\"" +
                            long_value + "\", algorithm=\"MD5\", qop=\"" + long_value +
                            "\", opaque=\"" + long_value + "\"";
    ASSERT_EQ(parse_digest_challenge(challenge.c_str(), &auth), 0);
    EXPECT_EQ(std::string(auth.realm), long_value.substr(0, 127));
    EXPECT_EQ(std::string(auth.nonce), long_value.substr(0, 127));
    EXPECT_EQ(std::string(auth.previous_nonce), long_value.substr(0, 127));
    EXPECT_EQ(std::string(auth.qop), long_value.substr(0, 15));
    EXPECT_STREQ(auth.algorithm, "MD5");  // the field right after qop
    EXPECT_EQ(std::string(auth.opaque), long_value.substr(0, 127));
    EXPECT_TRUE(guard_intact(state));
}

}  // namespace
