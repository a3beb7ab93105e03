// Loopback TCP helpers for the HTTP client tests.
#include "http_test_server.h"

#include "loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

std::atomic<std::uint64_t> steps{0};

int bound_socket(std::uint16_t port, std::uint16_t* bound_port,
                 std::uint32_t address = LOOPBACK) {
    return bound_loopback_socket(SOCK_STREAM, port, bound_port, address);
}

bool ends_header(const std::string& text) { return text.find("\r\n\r\n") != std::string::npos; }

void send_whole(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client stopped reading, as it does at its limit
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace

HttpTestServer::HttpTestServer(std::vector<std::string> answers, AfterAnswer after,
                               std::uint32_t address)
    : answers_(std::move(answers)), after_(after) {
    listener_ = bound_socket(0, &port_, address);
    if (listener_ < 0 || listen(listener_, 16) != 0) std::abort();
    thread_ = std::thread([this] { serve(); });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(listener_);
}

const std::vector<ReceivedRequest>& HttpTestServer::requests() {
    if (thread_.joinable()) thread_.join();
    return requests_;
}

const std::vector<ReceivedRequest>& HttpTestServer::stop() {
    stop_ = true;
    return requests();
}

void HttpTestServer::serve() {
    for (const std::string& answer : answers_) {
        pollfd waiting{listener_, POLLIN, 0};
        while (!stop_ && poll(&waiting, 1, 50) <= 0) {
        }
        if (stop_) return;
        sockaddr_in client{};
        socklen_t length = sizeof client;
        int fd = accept(listener_, reinterpret_cast<sockaddr*>(&client), &length);
        if (fd < 0) return;
        ReceivedRequest request{"", ntohs(client.sin_port), ++steps, 0,
                                ntohl(client.sin_addr.s_addr)};
        char chunk[4096];
        while (!ends_header(request.text)) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            request.text.append(chunk, static_cast<std::size_t>(n));
        }
        send_whole(fd, answer);
        ++sent_;
        if (after_ == AfterAnswer::HOLD) hold(fd, &request);
        if (after_ == AfterAnswer::CLOSE_SOON) {
            std::this_thread::sleep_for(std::chrono::milliseconds(CLOSE_SOON_MS));
        }
        requests_.push_back(request);
        close(fd);
    }
}

void HttpTestServer::hold(int fd, ReceivedRequest* request) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(HELD_SECONDS);
    char chunk[1024];
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 50) <= 0) continue;
        if (recv(fd, chunk, sizeof chunk, 0) <= 0) {
            request->client_closed_step = ++steps;
            return;
        }
    }
}

RefusingPort::RefusingPort() {
    socket_ = bound_socket(0, &port_);
    if (socket_ < 0) std::abort();
}

RefusingPort::~RefusingPort() { close(socket_); }

OccupiedPort::OccupiedPort() {
    for (int tries = 0; tries < 100; ++tries) {
        socket_ = bound_socket(0, &port_);
        if (socket_ < 0) continue;
        if (port_ == 65535) {
            close(socket_);
            continue;
        }
        std::uint16_t next = 0;
        int probe = bound_socket(static_cast<std::uint16_t>(port_ + 1), &next);
        if (probe >= 0) {
            close(probe);
            return;
        }
        close(socket_);
    }
    std::abort();
}

OccupiedPort::OccupiedPort(std::uint16_t port) {
    std::uint16_t bound = 0;
    socket_ = bound_socket(port, &bound);
    if (socket_ >= 0) port_ = bound;
}

OccupiedPort::~OccupiedPort() {
    if (socket_ >= 0) close(socket_);
}

std::uint16_t free_local_port() {
    std::uint16_t port = 0;
    int fd = bound_socket(0, &port);
    if (fd < 0) std::abort();
    close(fd);
    return port;
}

std::uint16_t hold_consecutive_ports(std::uint16_t from, std::uint16_t to, int count,
                                     std::vector<std::unique_ptr<OccupiedPort>>* held) {
    for (unsigned base = from; base + static_cast<unsigned>(count) < to; base += count) {
        held->clear();
        for (int i = 0; i < count; ++i) {
            auto port = std::make_unique<OccupiedPort>(static_cast<std::uint16_t>(base + i));
            if (port->port() == 0) break;
            held->push_back(std::move(port));
        }
        if (held->size() == static_cast<std::size_t>(count)) return static_cast<std::uint16_t>(base);
    }
    held->clear();
    return 0;
}
