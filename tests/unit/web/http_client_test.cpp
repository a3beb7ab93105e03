// The web client on its own: it reads and fills only the digest state and device values it is
// handed, and a connection it cannot set up comes back as a value while the process goes on.
// Reading the device's answer: the status line, the digest challenge in a 401, the status page
// values.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "test_support.h"
#include "web/http_client.h"

namespace {

struct ExchangeFixture : ::testing::Test {
    void SetUp() override {
        std::memset(&upgrade_state.device_info, 0, sizeof upgrade_state.device_info);
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
        std::strcpy(upgrade_state.device_info.software_version, "record");
        buffer.assign(4096, '#');
    }

    std::int32_t exchange_with(std::uint16_t device_port, std::uint16_t local_port = 0) {
        if (local_port == 0) local_port = free_local_port();
        return http_exchange(&exchange, LOOPBACK, local_port, LOOPBACK, device_port,
                             "/admin/advanced", buffer.data(),
                             static_cast<std::int32_t>(buffer.size() - 1));
    }

    DigestAuthState auth{};
    DeviceInfo info{};
    HttpExchange exchange{&auth, &info, HttpSetupFailure::NO_SOCKET, nullptr};
    std::vector<char> buffer;
};

using HttpExchangeAlone = ExchangeFixture;

TEST_F(HttpExchangeAlone, ChallengeAndPageLandInTheGivenStateNotTheRecord) {
    std::string challenge =
        "HTTP/1.1 401 Unauthorized\r\n"
        "WWW-Authenticate: Digest realm=\"TEV VoIP\", nonce=\"n-7\", qop=\"auth\"\r\n\r\n";
    std::string page =
        "HTTP/1.1 200 OK\r\n\r\n<td>Software Version:</td><td>3.2.9(b)</td>"
        "<td>Serial Number:</td><td>S-9</td>";
    HttpTestServer server({challenge, page});

    EXPECT_EQ(exchange_with(server.port()), -1);
    EXPECT_EQ(exchange.failure, HttpSetupFailure::NONE);
    EXPECT_STREQ(auth.nonce, "n-7");
    EXPECT_STREQ(upgrade_state.auth.nonce, "");

    // With a password in the given state the next request carries the Authorization line.
    std::strcpy(auth.user_name, "admin");
    std::strcpy(auth.password, "secret");
    EXPECT_EQ(exchange_with(server.port()), static_cast<std::int32_t>(page.size()));
    EXPECT_STREQ(info.software_version, "3.2.9(b)");
    EXPECT_STREQ(info.serial_number, "S-9");
    EXPECT_EQ(auth.nonce_count, 1u);
    EXPECT_STREQ(upgrade_state.device_info.software_version, "record");
    EXPECT_EQ(upgrade_state.auth.nonce_count, 0u);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0].text.find("Authorization:"), std::string::npos);
    EXPECT_NE(server.requests()[1].text.find("\r\nAuthorization: Digest username=\"admin\""),
              std::string::npos);
}

// An answer not whole within its limit is none, whatever part of it came (a page cut short could
// carry a version cut short), and the exchange closes the connection the server holds.
TEST_F(HttpExchangeAlone, AnAnswerNotWholeWithinItsLimitIsNoAnswer) {
    for (std::string answer : {"", "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n"
                                    "<td>Software Version:</td><td>3.2.9(b)</td>"}) {
        HttpTestServer server({answer}, AfterAnswer::HOLD);
        exchange.answer_limit_ms = 300;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(exchange_with(server.port()), 0);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(exchange.answer_late);
        EXPECT_STREQ(info.software_version, "");
        EXPECT_GE(took, std::chrono::milliseconds(290));
        EXPECT_LT(took, std::chrono::seconds(10));  // far below the server's hold
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_GT(server.requests()[0].client_closed_step, 0u);
    }
}

TEST_F(HttpExchangeAlone, EveryPortOfTheWalkTakenTheSystemChoosesOneAndTheLogSaysSo) {
    // 101 consecutive ports held below the ephemeral range, the exchange asked to start at the
    // first of them.
    std::vector<std::unique_ptr<OccupiedPort>> held;
    std::uint16_t first = hold_consecutive_ports(33000, 40000, MAX_BIND_RETRIES + 1, &held);
    ASSERT_NE(first, 0) << "no 101 free consecutive ports to hold";
    std::string page = "HTTP/1.1 200 OK\r\n\r\n<td>Serial Number:</td><td>S-9</td>";
    HttpTestServer server({page});
    keep_trace();
    EXPECT_EQ(exchange_with(server.port(), first), static_cast<std::int32_t>(page.size()));
    std::string traced = kept_trace();
    stop_keeping_trace();
    EXPECT_EQ(exchange.failure, HttpSetupFailure::NONE);
    EXPECT_STREQ(info.serial_number, "S-9");
    ASSERT_EQ(server.requests().size(), 1u);
    int port = server.requests()[0].client_port;
    EXPECT_TRUE(port < first || port > first + MAX_BIND_RETRIES) << port;
    EXPECT_NE(traced.find("HTTP local ports " + std::to_string(first) + " to " +
                          std::to_string(first + MAX_BIND_RETRIES) +
                          " could not be bound (Address already in use); the system chose port " +
                          std::to_string(port) + "\n"),
              std::string::npos)
        << traced;
}

TEST_F(HttpExchangeAlone, NoPortToBindAtAllIsReportedAndNothingIsTried) {
    // An address of no interface here (TEST-NET-1): neither the walk nor the system has a port.
    RefusingPort refusing;
    keep_trace();
    EXPECT_EQ(http_exchange(&exchange, 0xC0000201u, free_local_port(), LOOPBACK, refusing.port(),
                            "/admin/advanced", buffer.data(),
                            static_cast<std::int32_t>(buffer.size() - 1)),
              0);
    std::string traced = kept_trace();
    stop_keeping_trace();
    EXPECT_EQ(exchange.failure, HttpSetupFailure::NO_BIND);
    EXPECT_EQ(traced.find("HTTP connecting"), std::string::npos);
    EXPECT_EQ(buffer[0], '#');
}

// Whether a TCP port on loopback can be bound within two seconds: a port in TIME_WAIT cannot for a
// minute.
bool bindable_soon(std::uint16_t port) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        if (OccupiedPort(port).port() == port) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST_F(HttpExchangeAlone, AfterAnAnswerWithALengthTheDeviceClosesFirstAndThePortIsFreeAgain) {
    std::string page = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nS-9";
    HttpTestServer server({page}, AfterAnswer::CLOSE_SOON);
    keep_trace();
    EXPECT_EQ(exchange_with(server.port()), static_cast<std::int32_t>(page.size()));
    std::string traced = kept_trace();
    stop_keeping_trace();
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(bindable_soon(server.requests()[0].client_port)) << "the client closed first";
    EXPECT_NE(traced.find("HTTP the device closed the connection after its answer\n"),
              std::string::npos)
        << traced;
}

TEST_F(HttpExchangeAlone, ARefusedConnectionIsNoSetUpFailure) {
    RefusingPort refusing;
    EXPECT_EQ(exchange_with(refusing.port()), 0);
    EXPECT_EQ(exchange.failure, HttpSetupFailure::NONE);
    EXPECT_EQ(exchange.connected_from, 0u);
}

TEST_F(HttpExchangeAlone, AConnectionBoundToAnyAddressTellsTheAddressItLeftFrom) {
    HttpTestServer server({"HTTP/1.1 200 OK\r\n\r\n"});
    http_exchange(&exchange, 0, free_local_port(), LOOPBACK, server.port(), "/admin/advanced",
                  buffer.data(), static_cast<std::int32_t>(buffer.size() - 1));
    EXPECT_EQ(exchange.connected_from, LOOPBACK);
}

TEST(HttpStatus, ClassifiesTheStatusLine) {
    DigestAuthState auth{};
    EXPECT_EQ(classify_http_status("HTTP/1.1 200 OK\r\n\r\n", &auth), HTTP_STATUS_OK);
    EXPECT_EQ(classify_http_status("HTTP/1.1 \t 200", &auth), HTTP_STATUS_OK);
    EXPECT_EQ(classify_http_status("HTTP/1.1 2000 Whatever", &auth), HTTP_STATUS_OK);
    EXPECT_EQ(classify_http_status("HTTP/1.1 404 Not Found\r\n", &auth), HTTP_OTHER_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.0 200 OK\r\n", &auth), HTTP_STATUS_OK);
    EXPECT_EQ(classify_http_status("HTTP/1.0 404 Not Found\r\n", &auth), HTTP_OTHER_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.0", &auth), HTTP_NO_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.2 200 OK\r\n", &auth), HTTP_NOT_HTTP11);
    EXPECT_EQ(classify_http_status("HTTP/2 200\r\n", &auth), HTTP_NOT_HTTP11);
    EXPECT_EQ(classify_http_status("http/1.1 200 OK\r\n", &auth), HTTP_NOT_HTTP11);
    EXPECT_EQ(classify_http_status("GET / HTTP/1.1\r\n", &auth), HTTP_NOT_HTTP11);
    EXPECT_EQ(classify_http_status("", &auth), HTTP_NOT_HTTP11);
    EXPECT_EQ(classify_http_status("HTTP/1.1", &auth), HTTP_NO_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.1 ", &auth), HTTP_NO_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.1  \t ", &auth), HTTP_NO_STATUS);
    // The character after the version is stepped over whatever it is.
    EXPECT_EQ(classify_http_status("HTTP/1.1x200", &auth), HTTP_STATUS_OK);
    EXPECT_EQ(classify_http_status("HTTP/1.1 20", &auth), HTTP_OTHER_STATUS);
}

TEST(HttpStatus, A401IsAChallengeOnlyWithRealmAndNonce) {
    DigestAuthState auth{};
    EXPECT_EQ(classify_http_status("HTTP/1.1 401 Unauthorized\r\n\r\n", &auth), HTTP_OTHER_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.1 401 Unauthorized\r\n"
                                   "WWW-Authenticate: Digest realm=\"TEV\"\r\n\r\n",
                                   &auth),
              HTTP_OTHER_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.1 401 Unauthorized\r\n"
                                   "WWW-Authenticate: Basic realm=\"TEV\", nonce=\"n\"\r\n\r\n",
                                   &auth),
              HTTP_OTHER_STATUS);
    EXPECT_STREQ(auth.nonce, "");
    EXPECT_EQ(classify_http_status("HTTP/1.1 401 Unauthorized\r\nServer: tev\r\n"
                                   "WWW-Authenticate: Digest nonce=\"abc\", realm=\"TEV\"\r\n\r\n",
                                   &auth),
              HTTP_AUTH_CHALLENGE);
    EXPECT_STREQ(auth.realm, "TEV");
    EXPECT_STREQ(auth.nonce, "abc");
    // Only the headers are read: a challenge, or its directives, in the body count for nothing.
    EXPECT_EQ(classify_http_status("HTTP/1.1 401 No\r\n\r\nWWW-Authenticate: Digest realm=\"b\", "
                                   "nonce=\"body\"",
                                   &auth),
              HTTP_OTHER_STATUS);
    EXPECT_EQ(classify_http_status("HTTP/1.1 401 No\r\nWWW-Authenticate: Digest realm=\"h\"\n\n"
                                   "nonce=\"body\"",
                                   &auth),
              HTTP_OTHER_STATUS);
    EXPECT_STREQ(auth.nonce, "abc");
}

TEST(HttpStatus, HeaderNamesAndTheSchemeInAnyCaseAndHttp10) {
    for (const char* answer :
         {"HTTP/1.1 401 Unauthorized\r\nwww-authenticate: digest realm=\"r\", nonce=\"n1\"\r\n\r\n",
          "HTTP/1.1 401 Unauthorized\r\nWww-Authenticate: DIGEST Realm=\"r\", NONCE=\"n1\"\r\n\r\n",
          "HTTP/1.0 401 Unauthorized\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n1\"\n\n"}) {
        DigestAuthState auth{};
        EXPECT_EQ(classify_http_status(answer, &auth), HTTP_AUTH_CHALLENGE) << answer;
        EXPECT_STREQ(auth.realm, "r") << answer;
        EXPECT_STREQ(auth.nonce, "n1") << answer;
    }
}

const char* const TABLE_PAGE =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body><table>\n"
    "<tr><td>Product Name:</td><td><b>TEV4400</b></td></tr>\n"
    "<tr><td>MAC Address:</td><td>00:0E:08:12:34:56</td></tr>\n"
    "<tr><td>Software Version:</td><td><font color=\"blue\"><b>3.2.9(b)</b></font></td></tr>\n"
    "<tr><td>Hardware Version:</td><td> 2.0 </td></tr>\n"
    "<tr><td>Serial Number:</td><td>TEV-0001234</td></tr>\n"
    "</table></body></html>\n";

TEST(StatusPage, TableLayoutFillsAllFiveSkippingWrappingTags) {
    DeviceInfo info{};
    scrape_device_info(TABLE_PAGE, &info);
    EXPECT_STREQ(info.product_name, "TEV4400");
    EXPECT_STREQ(info.mac_address, "00:0E:08:12:34:56");
    EXPECT_STREQ(info.software_version, "3.2.9(b)");
    EXPECT_STREQ(info.hardware_version, " 2.0 ");
    EXPECT_STREQ(info.serial_number, "TEV-0001234");
}

TEST(StatusPage, MissingLabelOrTagLeavesTheFieldAlone) {
    char field[DEVICE_TEXT_SIZE] = "kept";
    EXPECT_EQ(scrape_label_value("no labels here", "Serial Number:", field, SCRAPE_VALUE_MAX),
              nullptr);
    EXPECT_EQ(scrape_label_value("Serial Number: 1234", "Serial Number:", field, SCRAPE_VALUE_MAX),
              nullptr);
    EXPECT_EQ(scrape_label_value("Serial Number:<br", "Serial Number:", field, SCRAPE_VALUE_MAX),
              nullptr);
    EXPECT_STREQ(field, "kept");
    EXPECT_EQ(scrape_label_value("Serial Number:</td>", "Serial Number:", field, SCRAPE_VALUE_MAX),
              field);
    EXPECT_STREQ(field, "");
}

TEST(StatusPage, ValueRulesAsTheDeviceWritesThem) {
    char field[DEVICE_TEXT_SIZE];
    // A value in the label's own text is passed over for the text after the next lone '>'.
    ASSERT_NE(scrape_label_value("Software Version: 1.0<br>\n3.0<br>", "Software Version:", field,
                                 SCRAPE_VALUE_MAX),
              nullptr);
    EXPECT_STREQ(field, "\n3.0");
    // Case matters, and the first occurrence counts, headers included.
    ASSERT_NE(scrape_label_value("X-Model: a>one<\r\n\r\n<b>X-Model:</b>two<", "X-Model:", field,
                                 SCRAPE_VALUE_MAX),
              nullptr);
    EXPECT_STREQ(field, "one");
    EXPECT_EQ(scrape_label_value("product name:>x", "Product Name:", field, SCRAPE_VALUE_MAX),
              nullptr);
}

TEST(StatusPage, LongValueIsCutAt127) {
    std::string page = "<td>Product Name:</td><td>" + std::string(300, 'p') + "</td>";
    char field[DEVICE_TEXT_SIZE + 8];
    std::memset(field, '#', sizeof field);
    ASSERT_NE(scrape_label_value(page.c_str(), "Product Name:", field, SCRAPE_VALUE_MAX), nullptr);
    EXPECT_EQ(std::string(field), std::string(127, 'p'));
    EXPECT_EQ(field[DEVICE_TEXT_SIZE], '#');
}

}  // namespace
