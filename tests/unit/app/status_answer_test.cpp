// The status query's answer from a host that is not a TEV: how it is recognised, and the line of
// it the log keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/status_answer.h"
#include "test_support.h"

namespace {

TEST(StatusAnswer, AnyOneOfTheFiveValuesMakesItATevsPage) {
    DeviceInfo info{};
    EXPECT_FALSE(carries_status_values(info));
    for (char* field : {info.product_name, info.mac_address, info.software_version,
                        info.hardware_version, info.serial_number}) {
        std::memset(&info, 0, sizeof info);
        std::strcpy(field, "x");
        EXPECT_TRUE(carries_status_values(info)) << field - reinterpret_cast<char*>(&info);
    }
}

TEST(StatusAnswer, EscapingShowsEveryByteOnOneLineAndWritesOnlyWholeEscapes) {
    char out[ESCAPED_EXCERPT_SIZE];
    const std::string bytes("a\\b\r\n\x00\x7f\xe9z", 9);
    escape_bytes(bytes.data(), bytes.size(), out, sizeof out);
    EXPECT_STREQ(out, "a\\x5Cb\\x0D\\x0A\\x00\\x7F\\xE9z");

    char small[7];  // "ab" and one escape fit, the next escape does not
    escape_bytes("ab\x01\x02", 4, small, sizeof small);
    EXPECT_STREQ(small, "ab\\x01");
    escape_bytes("x", 1, small, 1);
    EXPECT_STREQ(small, "");
}

TEST(StatusAnswer, TheLogKeepsTheHostTheStatusLineAndTheFirst200BytesEscaped) {
    std::string page = "HTTP/1.1 200 OK\r\nServer: router\r\n\r\n<html>Login</html>";
    page += std::string(300, 'p');
    keep_trace();
    trace_not_a_tev("192.0.2.1", page.data(), static_cast<std::int32_t>(page.size()));
    stop_keeping_trace();
    std::string excerpt = page.substr(0, 200);
    for (std::string::size_type at; (at = excerpt.find('\r')) != std::string::npos;) {
        excerpt.replace(at, 1, "\\x0D");
    }
    for (std::string::size_type at; (at = excerpt.find('\n')) != std::string::npos;) {
        excerpt.replace(at, 1, "\\x0A");
    }
    EXPECT_EQ(kept_trace(),
              "The host at 192.0.2.1 answered, but not as a TEV: its answer has none of the five "
              "status values\n"
              "  status line \"HTTP/1.1 200 OK\"\n"
              "  first 200 bytes of the answer: \"" + excerpt + "\"\n");

    // Binary bytes: the status line ends where the excerpt does, NULs included.
    const std::string garbage("\x00\x01\x02", 3);
    keep_trace();
    trace_not_a_tev("10.1.0.123", garbage.data(), 3);
    stop_keeping_trace();
    EXPECT_NE(kept_trace().find("  status line \"\\x00\\x01\\x02\"\n"), std::string::npos);
    EXPECT_NE(kept_trace().find("  first 3 bytes of the answer: \"\\x00\\x01\\x02\"\n"),
              std::string::npos);
}

// What the box says about an answer without the values: a login it cannot answer, an error
// status with its code and reason (printable, cut), or, for 200 and for bytes that are not HTTP,
// not a TEV.
TEST(StatusAnswer, TheBoxSaysWhatAnsweredInstead) {
    struct Case {
        std::string answer;
        const char* box;
    };
    const Case cases[] = {
        {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"TEV\"\r\n\r\n",
         "Upgrade Failed: The TEV Asks For A Login This Program Cannot Answer"},
        {"HTTP/1.0 401 Unauthorized\r\nwww-authenticate: Digest realm=\"r\", nonce=\"n\", "
         "algorithm=SHA-512-256\r\n\r\n",
         "Upgrade Failed: The TEV Asks For A Login This Program Cannot Answer"},
        {"HTTP/1.1 401 Unauthorized\r\n\r\nWWW-Authenticate: Basic realm=\"in the body\"",
         "Upgrade Failed: The TEV Answered 401 Unauthorized"},
        {"HTTP/1.1 400 Bad Request\r\nServer: x\r\n\r\n<h1>400</h1>", "Upgrade Failed: The TEV Answered 400 Bad Request"},
        {"HTTP/1.1  500 \r\n\r\n", "Upgrade Failed: The TEV Answered 500"},
        {"HTTP/1.1 403 Forbidden\x1b[2J and more\r\n\r\n", "Upgrade Failed: The TEV Answered 403 Forbidden"},
        {"HTTP/1.1 404 " + std::string(60, 'N') + "\r\n\r\n",
         "Upgrade Failed: The TEV Answered 404 NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN"},
        {"HTTP/1.1 200 OK\r\n\r\n<html>Login</html>", "Upgrade Failed: The Address Answered, But Not As A TEV"},
        {"SSH-2.0-OpenSSH_9.2\r\n", "Upgrade Failed: The Address Answered, But Not As A TEV"},
        {"HTTP/1.1 4x4 Odd\r\n\r\n", "Upgrade Failed: The Address Answered, But Not As A TEV"},
    };
    for (const Case& c : cases) {
        char box[STATUS_BOX_TEXT_SIZE];
        status_box_text(c.answer.c_str(), static_cast<std::int32_t>(c.answer.size()), box, sizeof box);
        EXPECT_STREQ(box, c.box) << c.answer;
    }
}

TEST(StatusAnswer, TheLogKeepsTheChallengeHeadersOfALoginItCannotAnswer) {
    std::string answer = "HTTP/1.1 401 Unauthorized\r\nServer: x\r\nWWW-Authenticate: Basic realm=\"TEV\"\r\n"
                         "WWW-Authenticate: Digest realm=\"TEV\", nonce=\"n\", algorithm=SHA-512-256\r\n\r\n";
    keep_trace();
    trace_not_a_tev("192.0.2.1", answer.data(), static_cast<std::int32_t>(answer.size()));
    stop_keeping_trace();
    std::string log = kept_trace();
    EXPECT_EQ(log.rfind("The host at 192.0.2.1 asks for a login this program cannot answer", 0), 0u) << log;
    EXPECT_NE(log.find("  status line \"HTTP/1.1 401 Unauthorized\"\n"
                       "  challenge \"WWW-Authenticate: Basic realm=\"TEV\"\"\n"
                       "  challenge \"WWW-Authenticate: Digest realm=\"TEV\", nonce=\"n\", algorithm=SHA-512-256\"\n"),
              std::string::npos)
        << log;
}

}  // namespace
