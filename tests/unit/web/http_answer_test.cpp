// Where an answer ends: its Content-Length, its last chunk (the body joined without the
// chunk-size lines), or the close; fed in pieces of every size, and over connections that the
// server keeps open. An exchange ended from another thread returns and takes no challenge.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "web/http_answer.h"
#include "web/http_client.h"

namespace {

struct Read {
    std::string answer;  // what the reader kept as the answer
    bool complete;
};

// The reader fed text in pieces of piece bytes, stopping once it says the answer is whole, as
// the exchange does.
Read read_in_pieces(const std::string& text, std::size_t piece) {
    std::vector<char> buffer(text.size() + 1, '#');
    AnswerReader reader;
    answer_begin(&reader, buffer.data());
    for (std::size_t at = 0; at < text.size() && !answer_complete(&reader); at += piece) {
        std::size_t count = std::min(piece, text.size() - at);
        std::memcpy(buffer.data() + reader.received, text.data() + at, count);
        buffer[reader.received + count] = 0;
        answer_take(&reader, static_cast<std::int32_t>(count));
    }
    return Read{std::string(buffer.data(), static_cast<std::size_t>(reader.length)), answer_complete(&reader)};
}

void expect_read(const std::string& text, const std::string& answer, bool complete) {
    for (std::size_t piece = 1; piece <= text.size(); ++piece) {
        Read read = read_in_pieces(text, piece);
        ASSERT_EQ(read.answer, answer) << "pieces of " << piece;
        ASSERT_EQ(read.complete, complete) << "pieces of " << piece;
    }
}

const std::string HEAD = "HTTP/1.1 200 OK\r\nServer: x\r\n";

TEST(AnswerEnd, ContentLengthEndsTheAnswerWhateverFollows) {
    expect_read(HEAD + "Content-Length: 5\r\n\r\nhello, and more", HEAD + "Content-Length: 5\r\n\r\nhello", true);
    expect_read(HEAD + "content-LENGTH:   0 \r\n\r\nextra", HEAD + "content-LENGTH:   0 \r\n\r\n", true);
    // Bare line feeds end lines too; the length counts from the empty line.
    expect_read("HTTP/1.0 200 OK\ncontent-length: 3\n\nabcdef", "HTTP/1.0 200 OK\ncontent-length: 3\n\nabc", true);
    // Not yet whole, an unreadable length, or one in the body: the answer runs to the close.
    expect_read(HEAD + "Content-Length: 50\r\n\r\nshort", HEAD + "Content-Length: 50\r\n\r\nshort", false);
    expect_read(HEAD + "Content-Length: 5x\r\n\r\nhello!", HEAD + "Content-Length: 5x\r\n\r\nhello!", false);
    expect_read(HEAD + "\r\nContent-Length: 1\r\n\r\nab", HEAD + "\r\nContent-Length: 1\r\n\r\nab", false);
    // No body after 204 and 304.
    expect_read("HTTP/1.1 204 No Content\r\n\r\nstray", "HTTP/1.1 204 No Content\r\n\r\n", true);
}

TEST(AnswerEnd, ChunksAreJoinedAndTheLastEndsTheAnswer) {
    std::string chunked = HEAD + "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n";
    std::string head = chunked;
    expect_read(chunked + "7;piece=1\r\n<td>Pro\r\n1B\r\nduct Name:</td><td>TEV</td>\r\n0\r\nX-Trailer: t\r\n\r\nnext",
                head + "<td>Product Name:</td><td>TEV</td>", true);
    // Codings before chunked, and names in any case; an answer cut before its last chunk.
    std::string gzip = HEAD + "TRANSFER-encoding: gzip, Chunked\r\n\r\n";
    expect_read(gzip + "3\r\nabc\r\n0\r\n\r\n", gzip + "abc", true);
    expect_read(gzip + "3\r\nabc\r\n2\r\nd", gzip + "abcd", false);
    // A size line that is none ends the answer; chunked not last means the close ends it.
    expect_read(head + "2\r\nab\r\nzz\r\ncd\r\n", head + "ab", true);
    std::string not_last = HEAD + "Transfer-Encoding: chunked, gzip\r\n\r\n";
    expect_read(not_last + "3\r\nabc\r\n0\r\n\r\n", not_last + "3\r\nabc\r\n0\r\n\r\n", false);
}

// --- Exchanges with servers that keep the connection open after their answer.

struct HeldExchange : ::testing::Test {
    std::int32_t exchange_with(std::uint16_t port, HttpStop* stop = nullptr) {
        exchange.stop = stop;
        return http_exchange(&exchange, LOOPBACK, free_local_port(), LOOPBACK, port, "/admin/advanced",
                             buffer.data(), static_cast<std::int32_t>(buffer.size() - 1));
    }
    DigestAuthState auth{};
    DeviceInfo info{};
    HttpExchange exchange{&auth, &info, HttpSetupFailure::NONE, nullptr};
    std::vector<char> buffer = std::vector<char>(4096);
};

const std::string PAGE_BODY = "<td>Product Name:</td><td>TEV-4400</td><td>Serial Number:</td><td>S-1</td>";

TEST_F(HeldExchange, AnswersWithALengthOrChunksEndWithoutTheClose) {
    std::string with_length =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(PAGE_BODY.size()) + "\r\n\r\n" + PAGE_BODY;
    std::string chunked_head = "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\n\r\n";
    // The label is cut after "Product" between two chunks.
    char size[16];
    std::snprintf(size, sizeof size, "%zx", PAGE_BODY.size() - 9);
    std::string chunked = chunked_head + "9\r\n" + PAGE_BODY.substr(0, 9) + "\r\n" + size + "\r\n" + PAGE_BODY.substr(9) +
              "\r\n0\r\n\r\n";
    HttpTestServer server({with_length, chunked}, AfterAnswer::HOLD);

    EXPECT_EQ(exchange_with(server.port()), static_cast<std::int32_t>(with_length.size()));
    EXPECT_STREQ(info.product_name, "TEV-4400");
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(exchange_with(server.port()), static_cast<std::int32_t>(chunked_head.size() + PAGE_BODY.size()));
    EXPECT_EQ(std::string(buffer.data()), chunked_head + PAGE_BODY);
    EXPECT_STREQ(info.product_name, "TEV-4400");
    EXPECT_STREQ(info.serial_number, "S-1");

    const auto& requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const ReceivedRequest& request : requests) {
        EXPECT_GT(request.client_closed_step, 0u) << "the client waited for the server's close";
        EXPECT_NE(request.text.find("\r\nConnection: close\r\n\r\n"), std::string::npos);
    }
}

bool wait_until(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(HeldExchange, AStopFromAnotherThreadEndsItAndNoChallengeIsTaken) {
    // A challenge without a length on a connection that stays open: only the stop ends the wait.
    HttpTestServer server({"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\n"},
                          AfterAnswer::HOLD);
    HttpStop stop;
    std::thread stopper([&] {
        if (wait_until([&] { return server.answers_sent() == 1; })) http_stop(&stop);
    });
    std::int32_t result = exchange_with(server.port(), &stop);
    stopper.join();
    EXPECT_GE(result, 0);
    EXPECT_STREQ(auth.nonce, "");
    EXPECT_EQ(auth.nonce_count, 0u);
    EXPECT_EQ(stop.socket, NET_INVALID_SOCKET);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_GT(server.requests()[0].client_closed_step, 0u);

    // Stopped before it starts: no connection is even tried.
    HttpTestServer unused({"HTTP/1.1 200 OK\r\n\r\n"});
    EXPECT_EQ(exchange_with(unused.port(), &stop), 0);
    EXPECT_TRUE(unused.stop().empty());
}

}  // namespace
