// A small TCP server on 127.0.0.1 (or another loopback address) for the HTTP client tests: it
// serves one canned answer per connection and records each request exactly as it arrived, with
// the client's address and port.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

constexpr std::uint32_t LOOPBACK = 0x7F000001u;

struct ReceivedRequest {
    std::string text;
    std::uint16_t client_port;
    // Steps on one clock shared by every server of the process, so that tests can order events
    // across servers: when the connection was accepted, and (for a held one) when the client
    // closed it, 0 when it never did.
    std::uint64_t accepted_step;
    std::uint64_t client_closed_step;
    std::uint32_t client_address;  // host order
};

// What a server does after an answer: closes the connection, closes it CLOSE_SOON_MS later (as a
// device does once its answer is out), or holds it open until the client closes it (as a server
// that keeps connections does), for at most HELD_SECONDS.
enum class AfterAnswer { CLOSE, CLOSE_SOON, HOLD };
constexpr int CLOSE_SOON_MS = 20;
constexpr int HELD_SECONDS = 20;

class HttpTestServer {
public:
    // Serves answers[i] to the i-th connection on address (host order, a loopback one), then
    // closes or holds that connection.
    explicit HttpTestServer(std::vector<std::string> answers, AfterAnswer after = AfterAnswer::CLOSE,
                            std::uint32_t address = LOOPBACK);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t port() const { return port_; }
    // How many answers have gone out whole so far.
    int answers_sent() const { return sent_; }
    // Waits for the serving thread to finish, then returns what it received.
    const std::vector<ReceivedRequest>& requests();
    // Stops serving at once, whatever answers are left, and returns what it received.
    const std::vector<ReceivedRequest>& stop();

private:
    void serve();
    void hold(int fd, ReceivedRequest* request);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::vector<std::string> answers_;
    AfterAnswer after_ = AfterAnswer::CLOSE;
    std::vector<ReceivedRequest> requests_;
    std::atomic<bool> stop_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

// A port on 127.0.0.1 that refuses connections: held bound but never listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

// Occupies a port on 127.0.0.1: one whose next port is free, or exactly the port given (port()
// is 0 when that one could not be had).
class OccupiedPort {
public:
    OccupiedPort();
    explicit OccupiedPort(std::uint16_t port);
    OccupiedPort(const OccupiedPort&) = delete;
    OccupiedPort& operator=(const OccupiedPort&) = delete;
    ~OccupiedPort();
    std::uint16_t port() const { return port_; }

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

// A local port on 127.0.0.1 that was free a moment ago.
std::uint16_t free_local_port();

// Holds count consecutive ports on 127.0.0.1, trying the runs that start at from, from + count and
// so on below to; returns the first port of the run held, or 0 when none could be.
std::uint16_t hold_consecutive_ports(std::uint16_t from, std::uint16_t to, int count,
                                     std::vector<std::unique_ptr<OccupiedPort>>* held);
