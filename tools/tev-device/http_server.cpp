// TCP sockets of the web server (POSIX, IPv4).
#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device_log.h"
#include "device_options.h"

namespace {

constexpr int REQUEST_TIME_LIMIT_MS = 5000;
constexpr std::size_t REQUEST_SIZE_LIMIT = 16384;
constexpr int DRAIN_TIME_LIMIT_MS = 1000;
constexpr std::size_t HELD_LIMIT = 32;

// Reads and discards what a held connection sends; false once the client has closed it.
bool tend_held(int fd) {
    char buffer[1024];
    ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

void poll_held(HttpServer* server, const std::vector<pollfd>& fds) {
    std::vector<HeldConnection> still_held;
    std::int64_t now = elapsed_ms();
    for (std::size_t i = 0; i < server->held.size(); ++i) {
        const pollfd& p = fds[i + 1];
        const HeldConnection& held = server->held[i];
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !tend_held(p.fd)) {
            log_event("http: client closed a held connection");
            close(p.fd);
        } else if (held.close_at_ms > 0 && now >= held.close_at_ms) {
            log_event("http: idle time-out, held connection closed");
            close(p.fd);
        } else {
            still_held.push_back(held);
        }
    }
    server->held = still_held;
}

}  // namespace

bool http_listen(HttpServer* server) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        log_event("web server: socket failed: %s", std::strerror(errno));
        return false;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server->port);
    address.sin_addr.s_addr = htonl(server->address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        log_event("web server: cannot listen on %s:%u: %s", ipv4_text(server->address).c_str(), server->port,
                  std::strerror(errno));
        close(fd);
        return false;
    }
    server->listen_fd = fd;
    log_event("web server: listening on %s:%u", ipv4_text(server->address).c_str(), server->port);
    return true;
}

void http_stop_listening(HttpServer* server) {
    if (server->listen_fd < 0) return;
    close(server->listen_fd);
    server->listen_fd = -1;
    log_event("web server: closed, connections refused");
}

int http_wait_connection(HttpServer* server, int timeout_ms, std::string* peer) {
    std::vector<pollfd> fds;
    fds.push_back(pollfd{server->listen_fd, POLLIN, 0});  // a negative fd is skipped by poll
    for (const HeldConnection& held : server->held) fds.push_back(pollfd{held.fd, POLLIN, 0});
    int ready = poll(fds.data(), fds.size(), timeout_ms);
    poll_held(server, fds);
    if (ready <= 0) return -1;
    if (server->listen_fd < 0 || (fds[0].revents & POLLIN) == 0) return -1;
    sockaddr_in client{};
    socklen_t length = sizeof client;
    int fd = accept4(server->listen_fd, reinterpret_cast<sockaddr*>(&client), &length, SOCK_CLOEXEC);
    if (fd < 0) return -1;
    *peer = ipv4_text(ntohl(client.sin_addr.s_addr)) + ":" + std::to_string(ntohs(client.sin_port));
    return fd;
}

bool http_read_request(int fd, std::string* text) {
    std::int64_t deadline = elapsed_ms() + REQUEST_TIME_LIMIT_MS;
    char buffer[2048];
    while (text->find("\r\n\r\n") == std::string::npos && text->find("\n\n") == std::string::npos) {
        if (text->size() > REQUEST_SIZE_LIMIT) return false;
        std::int64_t left = deadline - elapsed_ms();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        text->append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

void http_send_all(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            log_event("http: answer cut short: %s", std::strerror(errno));
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

void http_close_connection(int fd) {
    shutdown(fd, SHUT_WR);
    std::int64_t deadline = elapsed_ms() + DRAIN_TIME_LIMIT_MS;
    char buffer[1024];
    while (true) {
        std::int64_t left = deadline - elapsed_ms();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        if (recv(fd, buffer, sizeof buffer, 0) <= 0) break;
    }
    close(fd);
}

void http_hold_connection(HttpServer* server, int fd, std::int64_t idle_ms) {
    if (server->held.size() >= HELD_LIMIT) {
        close(server->held.front().fd);
        server->held.erase(server->held.begin());
    }
    server->held.push_back(HeldConnection{fd, idle_ms > 0 ? elapsed_ms() + idle_ms : 0});
    log_event("http: connection held open");
}
