// One HTTP exchange against small servers on loopback: the request bytes as the server saw them,
// the bind walk, the answer limit, and what the answer does to device_info and auth.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/device_http.h"
#include "core/upgrade_state.h"
#include "http_test_server.h"
#include "test_support.h"

namespace {

const std::string& traced = kept_trace();

const char* const STATUS_PAGE_BODY =
    "<html><body><table>\n"
    "<tr><td>Product Name:</td><td><b>TEV4400</b></td></tr>\n"
    "<tr><td>MAC Address:</td><td>00:0E:08:12:34:56</td></tr>\n"
    "<tr><td>Software Version:</td><td><font color=\"blue\"><b>3.2.9(b)</b></font></td></tr>\n"
    "<tr><td>Hardware Version:</td><td>2.0</td></tr>\n"
    "<tr><td>Serial Number:</td><td>TEV-0001234</td></tr>\n"
    "</table></body></html>\n";

std::string page(const char* status_line) {
    return std::string(status_line) + "\r\nContent-Type: text/html\r\n\r\n" + STATUS_PAGE_BODY;
}

const char* const PLAIN_REQUEST =
    "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\nConnection: close\r\n\r\n";

class HttpGet : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&upgrade_state.device_info, 0, sizeof upgrade_state.device_info);
        std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
        keep_trace();
        // A buffer with a marked tail past limit + 1, to see that nothing is written there.
        buffer.assign(RESPONSE_BUFFER_SIZE + 256, '#');
    }
    void TearDown() override { stop_keeping_trace(); }

    std::int32_t get(std::uint16_t device_port, const char* path = "/admin/advanced",
                     std::uint16_t local_port = 0) {
        if (local_port == 0) local_port = free_local_port();
        return http_get(LOOPBACK, local_port, LOOPBACK, device_port, path, buffer.data(),
                        RESPONSE_LIMIT);
    }

    void set_credentials() {
        DigestAuthState& auth = upgrade_state.auth;
        std::strcpy(auth.user_name, "admin");
        std::strcpy(auth.password, "tev-secret");
        std::strcpy(auth.realm, "TEV VoIP");
        std::strcpy(auth.nonce, "5f3a9c0d");
        std::strcpy(auth.previous_nonce, "5f3a9c0d");
        std::strcpy(auth.cnonce, "1a2b");
        std::strcpy(auth.qop, "auth");
        std::strcpy(auth.opaque, "op4q");
    }

    void fill_device_info(const char* text) {
        for (char* field : {upgrade_state.device_info.product_name,
                            upgrade_state.device_info.mac_address,
                            upgrade_state.device_info.software_version,
                            upgrade_state.device_info.hardware_version,
                            upgrade_state.device_info.serial_number}) {
            std::strcpy(field, text);
        }
    }

    void expect_device_info_all(const char* text) {
        EXPECT_STREQ(upgrade_state.device_info.product_name, text);
        EXPECT_STREQ(upgrade_state.device_info.mac_address, text);
        EXPECT_STREQ(upgrade_state.device_info.software_version, text);
        EXPECT_STREQ(upgrade_state.device_info.hardware_version, text);
        EXPECT_STREQ(upgrade_state.device_info.serial_number, text);
    }

    void expect_status_page_scraped() {
        EXPECT_STREQ(upgrade_state.device_info.product_name, "TEV4400");
        EXPECT_STREQ(upgrade_state.device_info.mac_address, "00:0E:08:12:34:56");
        EXPECT_STREQ(upgrade_state.device_info.software_version, "3.2.9(b)");
        EXPECT_STREQ(upgrade_state.device_info.hardware_version, "2.0");
        EXPECT_STREQ(upgrade_state.device_info.serial_number, "TEV-0001234");
    }

    std::vector<char> buffer;
};

TEST_F(HttpGet, RefusedEveryTimeSendsNothingAndChangesNothing) {
    RefusingPort refusing;
    set_credentials();
    upgrade_state.auth.nonce_count = 5;
    fill_device_info("before");

    EXPECT_EQ(get(refusing.port()), 0);

    EXPECT_EQ(upgrade_state.auth.nonce_count, 5u);
    EXPECT_STREQ(upgrade_state.auth.uri, "");
    expect_device_info_all("before");
    EXPECT_EQ(std::string(buffer.data(), 16), std::string(16, '#'));
    // Each attempt and why it failed, then the end; no request.
    std::string port = std::to_string(refusing.port());
    EXPECT_EQ(occurrences(traced, "to 127.0.0.1:" + port + "\n"), MAX_CONNECT_ATTEMPTS);
    EXPECT_EQ(occurrences(traced, "HTTP connection failed: Connection refused\n"),
              MAX_CONNECT_ATTEMPTS);
    EXPECT_NE(traced.find("HTTP no connection after 10 attempts\n"), std::string::npos);
    EXPECT_EQ(traced.find("GET "), std::string::npos);
}

TEST_F(HttpGet, StatusPageIsScrapedAndTheRequestIsExact) {
    std::string answer = page("HTTP/1.1 200 OK");
    HttpTestServer server({answer});

    EXPECT_EQ(get(server.port()), static_cast<std::int32_t>(answer.size()));

    ASSERT_EQ(server.requests().size(), 1u);
    // The Host line is fixed, whatever the device's address.
    EXPECT_EQ(server.requests()[0].text, PLAIN_REQUEST);
    EXPECT_STREQ(buffer.data(), answer.c_str());
    expect_status_page_scraped();
    std::string exchange = std::string(PLAIN_REQUEST) + "recv done\n" + answer + "\n";
    EXPECT_NE(traced.find("HTTP connected\n" + exchange +
                          "HTTP answer: " + std::to_string(answer.size()) + " bytes, status line \"HTTP/1.1 200 OK\" (OK)\n"),
              std::string::npos)
        << traced;
}

TEST_F(HttpGet, Http10PageIsStillCountedAndScraped) {
    std::string answer = page("HTTP/1.0 200 OK");
    HttpTestServer server({answer});
    EXPECT_EQ(get(server.port()), static_cast<std::int32_t>(answer.size()));
    expect_status_page_scraped();
}

TEST_F(HttpGet, ChallengeGivesMinusOneAndTouchesNoField) {
    // A body with the labels proves nothing is scraped from a challenge.
    std::string answer =
        "HTTP/1.1 401 Unauthorized\r\n"
        "WWW-Authenticate: Digest realm=\"TEV VoIP\", nonce=\"n-42\", qop=\"auth\"\r\n\r\n" +
        std::string(STATUS_PAGE_BODY);
    HttpTestServer server({answer});
    fill_device_info("before");

    EXPECT_EQ(get(server.port()), -1);

    expect_device_info_all("before");
    EXPECT_STREQ(upgrade_state.auth.realm, "TEV VoIP");
    EXPECT_STREQ(upgrade_state.auth.nonce, "n-42");
    EXPECT_STREQ(upgrade_state.auth.qop, "auth");
    EXPECT_EQ(upgrade_state.auth.nonce_count, 0u);
    EXPECT_NE(traced.find("Digest challenge taken: realm \"TEV VoIP\", qop \"auth\", algorithm \"\", "
                          "new nonce\n"),
              std::string::npos);
    EXPECT_NE(traced.find("status line \"HTTP/1.1 401 Unauthorized\" (digest challenge)\n"),
              std::string::npos);
}

TEST_F(HttpGet, A401WithoutUsableChallengeIsCountedAndScraped) {
    std::string no_header = "HTTP/1.1 401 Unauthorized\r\n\r\n" + std::string(STATUS_PAGE_BODY);
    std::string no_nonce = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\"\r\n\r\n"
                           "<td>Serial Number:</td><td>S-2</td>";
    std::string no_realm = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest nonce=\"n\"\r\n\r\n"
                           "<td>Serial Number:</td><td>S-3</td>";
    HttpTestServer server({no_header, no_nonce, no_realm});

    EXPECT_EQ(get(server.port()), static_cast<std::int32_t>(no_header.size()));
    expect_status_page_scraped();
    EXPECT_EQ(get(server.port()), static_cast<std::int32_t>(no_nonce.size()));
    EXPECT_STREQ(upgrade_state.device_info.serial_number, "S-2");
    EXPECT_EQ(get(server.port()), static_cast<std::int32_t>(no_realm.size()));
    EXPECT_STREQ(upgrade_state.device_info.serial_number, "S-3");
    EXPECT_STREQ(upgrade_state.device_info.product_name, "TEV4400");
    EXPECT_STREQ(upgrade_state.auth.nonce, "");
}

TEST_F(HttpGet, WithAPasswordEachRequestCarriesTheNextCountAndItsOwnUri) {
    const char* upgrade_path = "/admin/upgrade?tftp://127.0.0.1:69/tev1f.bi1";
    // The upgrade command's answer has no labels: the fields keep the status page's values.
    HttpTestServer server({page("HTTP/1.1 200 OK"), "HTTP/1.1 200 OK\r\n\r\nUpgrading <b>now</b>"});
    set_credentials();

    EXPECT_GT(get(server.port()), 0);
    EXPECT_GT(get(server.port(), upgrade_path), 0);

    const auto& requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].text,
              "GET /admin/advanced HTTP/1.1\r\nHost: 192.168.2.110\r\n"
              "Authorization: Digest username=\"admin\",realm=\"TEV VoIP\",nonce=\"5f3a9c0d\","
              "uri=\"/admin/advanced\",algorithm=\"\",response=\"6d5d1b251b1e2021fab19ffce24734df\","
              "opaque=\"op4q\",qop=auth,nc=000000001,cnonce=\"1a2b\"\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(requests[1].text,
              "GET /admin/upgrade?tftp://127.0.0.1:69/tev1f.bi1 HTTP/1.1\r\n"
              "Host: 192.168.2.110\r\n"
              "Authorization: Digest username=\"admin\",realm=\"TEV VoIP\",nonce=\"5f3a9c0d\","
              "uri=\"/admin/upgrade?tftp://127.0.0.1:69/tev1f.bi1\",algorithm=\"\","
              "response=\"c3497805da24233459820202adef35c4\","
              "opaque=\"op4q\",qop=auth,nc=000000002,cnonce=\"1a2b\"\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(upgrade_state.auth.nonce_count, 2u);
    EXPECT_STREQ(upgrade_state.auth.uri, upgrade_path);
    expect_status_page_scraped();
    // The trace shows each request as sent, the response hash and the password excepted.
    EXPECT_EQ(occurrences(traced, ",response=\"(not logged)\",opaque=\"op4q\",qop=auth,nc=00000000"), 2);
    EXPECT_EQ(occurrences(traced, "GET /admin/upgrade?tftp://127.0.0.1:69/tev1f.bi1 HTTP/1.1\r\n"), 1);
    EXPECT_EQ(traced.find("6d5d1b251b1e2021fab19ffce24734df"), std::string::npos);
    EXPECT_EQ(traced.find("c3497805da24233459820202adef35c4"), std::string::npos);
    EXPECT_EQ(traced.find("tev-secret"), std::string::npos);
}

TEST_F(HttpGet, AUserNameWithoutPasswordSendsNoAuthorization) {
    HttpTestServer server({page("HTTP/1.1 200 OK")});
    std::strcpy(upgrade_state.auth.user_name, "admin");
    std::strcpy(upgrade_state.auth.nonce, "5f3a9c0d");
    EXPECT_GT(get(server.port()), 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].text, PLAIN_REQUEST);
    EXPECT_EQ(upgrade_state.auth.nonce_count, 0u);
}

TEST_F(HttpGet, ALongRequestArrivesWhole) {
    std::string path = "/admin/advanced?" + std::string(100000, 'q');
    HttpTestServer server({page("HTTP/1.1 200 OK")});
    EXPECT_GT(get(server.port(), path.c_str()), 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].text,
              "GET " + path + " HTTP/1.1\r\nHost: 192.168.2.110\r\nConnection: close\r\n\r\n");
}

TEST_F(HttpGet, TakenLocalPortMovesToTheNext) {
    OccupiedPort occupied;
    HttpTestServer server({page("HTTP/1.1 200 OK")});
    EXPECT_GT(get(server.port(), "/admin/advanced", occupied.port()), 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].client_port, occupied.port() + 1);
}

TEST_F(HttpGet, FreeLocalPortIsUsedAsGiven) {
    std::uint16_t local_port = free_local_port();
    HttpTestServer server({page("HTTP/1.1 200 OK")});
    EXPECT_GT(get(server.port(), "/admin/advanced", local_port), 0);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].client_port, local_port);
}

TEST_F(HttpGet, ClosedWithoutAnswerGivesZeroAndLeavesTheRequestInTheBuffer) {
    HttpTestServer server({""});
    fill_device_info("before");
    EXPECT_EQ(get(server.port()), 0);
    EXPECT_STREQ(buffer.data(), PLAIN_REQUEST);
    expect_device_info_all("before");
}

TEST_F(HttpGet, OverlongAnswerIsCutAtTheLimitAndStillScraped) {
    std::string answer = "HTTP/1.1 200 OK\r\n\r\n<td>Product Name:</td><td>TEV4400</td>";
    const std::string serial_label = "<td>Serial Number:</td><td>";
    answer.resize(RESPONSE_LIMIT - 10 - serial_label.size(), ' ');
    answer += serial_label;  // its value starts 10 bytes before the limit
    answer += std::string(40, 'S') + "</td>";
    answer += "<td>MAC Address:</td><td>past the limit</td>";
    answer += std::string(80000, 'z');
    HttpTestServer server({answer});
    fill_device_info("before");

    EXPECT_EQ(get(server.port()), RESPONSE_LIMIT);

    EXPECT_EQ(std::memcmp(buffer.data(), answer.data(), RESPONSE_LIMIT), 0);
    EXPECT_EQ(buffer[RESPONSE_LIMIT], 0);
    EXPECT_EQ(std::string(buffer.data() + RESPONSE_BUFFER_SIZE, 256), std::string(256, '#'));
    EXPECT_STREQ(upgrade_state.device_info.product_name, "TEV4400");
    EXPECT_EQ(std::string(upgrade_state.device_info.serial_number),
              std::string(10, 'S'));
    EXPECT_STREQ(upgrade_state.device_info.mac_address, "before");
}

TEST_F(HttpGet, LabelThenTagThenEndGivesAnEmptyField) {
    HttpTestServer server({"HTTP/1.1 200 OK\r\n\r\n<td>Serial Number:</td>"});
    fill_device_info("before");
    EXPECT_GT(get(server.port()), 0);
    EXPECT_STREQ(upgrade_state.device_info.serial_number, "");
    EXPECT_STREQ(upgrade_state.device_info.product_name, "before");
}

// The two failures that end the program: the error box, then exit status 0. They run in a child.
void answer_boxes_on_stderr() {
    std::freopen("/dev/null", "r", stdin);
    dup2(2, 1);
}

void get_without_file_descriptors(std::uint16_t device_port) {
    answer_boxes_on_stderr();
    std::uint16_t local_port = free_local_port();
    std::vector<char> buffer(RESPONSE_BUFFER_SIZE);
    rlimit limits{};
    getrlimit(RLIMIT_NOFILE, &limits);
    limits.rlim_cur = 0;
    setrlimit(RLIMIT_NOFILE, &limits);
    http_get(LOOPBACK, local_port, LOOPBACK, device_port, "/admin/advanced", buffer.data(),
             RESPONSE_LIMIT);
}

// An address of no interface here (TEST-NET-1): neither the walk nor the system has a port.
void get_without_a_port(std::uint16_t device_port) {
    answer_boxes_on_stderr();
    std::vector<char> buffer(RESPONSE_BUFFER_SIZE);
    http_get(0xC0000201u, free_local_port(), LOOPBACK, device_port, "/admin/advanced",
             buffer.data(), RESPONSE_LIMIT);
}

TEST(HttpGetDeathTest, NoSocketEndsTheUpgrade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RefusingPort refusing;
    EXPECT_EXIT(get_without_file_descriptors(refusing.port()), ::testing::ExitedWithCode(1),
                "Upgrade Failed: Can't open HTTP socket");
}

TEST(HttpGetDeathTest, NoPortToBindEndsTheUpgrade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RefusingPort refusing;
    EXPECT_EXIT(get_without_a_port(refusing.port()), ::testing::ExitedWithCode(1),
                "Upgrade Failed: Can't bind HTTP socket");
}

}  // namespace

// A scan's probe (--scan-probe): each request connects once (within PROBE_CONNECT_LIMIT_MS, which
// net_connect_within keeps: connect_limit_test); without it a request keeps its ten attempts.
namespace {

struct ScanProbe : ::testing::Test {
    void SetUp() override { keep_trace(); }
    void TearDown() override {
        http_get_probe_only(false);
        stop_keeping_trace();
    }
    std::int32_t get(std::uint16_t port) {
        std::vector<char> buffer(RESPONSE_BUFFER_SIZE);
        return http_get(LOOPBACK, free_local_port(), LOOPBACK, port, "/", buffer.data(), RESPONSE_LIMIT);
    }
};

TEST_F(ScanProbe, ARefusedAddressIsAskedOnceAndAnUpgradeTenTimes) {
    RefusingPort refusing;
    for (bool probe : {true, false}) {
        clear_kept_trace();
        http_get_probe_only(probe);
        EXPECT_EQ(get(refusing.port()), 0);
        EXPECT_EQ(occurrences(kept_trace(), "HTTP connection failed: Connection refused\n"),
                  probe ? 1 : MAX_CONNECT_ATTEMPTS);
    }
}

}  // namespace
