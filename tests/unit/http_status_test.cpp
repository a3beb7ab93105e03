// Reading the device's answer: the status line, the digest challenge in a 401, the status page
// values, and the socket address conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "web/http_client.h"

namespace {

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

TEST(SocketAddress, HostOrderInNetworkOrderOutAndBack) {
    NetAddress address;
    std::memset(&address, 0x77, sizeof address);
    fill_sockaddr(0xC0A8026Eu, 23456, &address);
    EXPECT_EQ(address.family, NET_AF_INET);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    EXPECT_EQ(bytes[2], 0x5B);  // 23456 = 0x5BA0, most significant byte first
    EXPECT_EQ(bytes[3], 0xA0);
    EXPECT_EQ(bytes[4], 192);
    EXPECT_EQ(bytes[5], 168);
    EXPECT_EQ(bytes[6], 2);
    EXPECT_EQ(bytes[7], 110);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(bytes[i], 0) << i;

    std::uint32_t host = 0;
    std::uint16_t port = 0;
    read_sockaddr(address, &host, &port);
    EXPECT_EQ(host, 0xC0A8026Eu);
    EXPECT_EQ(port, 23456);

    fill_sockaddr(0, 69, &address);
    EXPECT_EQ(address.address_be, 0u);
}

}  // namespace
