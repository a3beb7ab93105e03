// A small TCP server on 127.0.0.1 for the HTTP client tests: it serves one canned answer per
// connection and records each request exactly as it arrived, with the client's port.
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
};

class HttpTestServer {
public:
    // Serves answers[i] to the i-th connection, then closes that connection.
    explicit HttpTestServer(std::vector<std::string> answers);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t port() const { return port_; }
    // Waits for the serving thread to finish, then returns what it received.
    const std::vector<ReceivedRequest>& requests();
    // Stops serving at once, whatever answers are left, and returns what it received.
    const std::vector<ReceivedRequest>& stop();

private:
    void serve();

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::vector<std::string> answers_;
    std::vector<ReceivedRequest> requests_;
    std::atomic<bool> stop_{false};
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
