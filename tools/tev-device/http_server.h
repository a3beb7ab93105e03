// The device's web server sockets: listening on the given address, one request per connection,
// the answer, then a close (or, as a fault, a connection held open).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct HeldConnection {
    int fd;
    std::int64_t close_at_ms;  // when the idle time-out closes it; 0: never
};

struct HttpServer {
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 80;
    int listen_fd = -1;
    std::vector<HeldConnection> held;  // connections kept open after their answer
};

bool http_listen(HttpServer* server);
// Closes the listening socket: new connections are refused until http_listen again.
void http_stop_listening(HttpServer* server);
// Waits up to `timeout_ms` for a connection, tending held connections meanwhile. Returns the
// connected socket with the client's "address:port" in `peer`, or -1.
int http_wait_connection(HttpServer* server, int timeout_ms, std::string* peer);
// Reads a request up to its empty line; false on a time-out, a close or an oversized head.
bool http_read_request(int fd, std::string* text);
void http_send_all(int fd, const std::string& text);
// Ends the answer: our side is shut first, what the client still sends is read, then closed, so
// that unread input never turns the close into a reset that could cut the answer.
void http_close_connection(int fd);
// Keeps fd open after its answer; with idle_ms above 0 it is closed after that long.
void http_hold_connection(HttpServer* server, int fd, std::int64_t idle_ms);
