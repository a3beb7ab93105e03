// One HTTP/1.1 GET exchange with the device, status classification, and status page scraping.
#include "web/http_client.h"

#include <cstring>
#include <string>

#include "core/run_report.h"
#include "core/trace.h"
#include "platform/clock.h"
#include "web/digest_auth.h"
#include "web/http_answer.h"
#include "web/http_headers.h"
#include "web/text_builder.h"

namespace {

// How often a wait for the answer looks whether the exchange was ended from outside.
constexpr int STOP_CHECK_MS = 100;
// How long an answer whole by its own length waits for the device's close (await_device_close).
constexpr int DEVICE_CLOSE_WAIT_MS = 200;

// The labels of the status page, in the order they are scraped, with the field each one fills.
struct StatusPageLabel {
    const char* label;
    char (DeviceInfo::*field)[DEVICE_TEXT_SIZE];
};

constexpr StatusPageLabel STATUS_PAGE_LABELS[] = {
    {"Product Name:", &DeviceInfo::product_name},
    {"MAC Address:", &DeviceInfo::mac_address},
    {"Software Version:", &DeviceInfo::software_version},
    {"Hardware Version:", &DeviceInfo::hardware_version},
    {"Serial Number:", &DeviceInfo::serial_number},
};

// Binds to local_port or, when that fails for any reason, to one of the next 100 ports. When all
// of them fail (a few dozen upgrades at once, or the ports of a run a minute ago still waiting out
// their close), to a port the system chooses: the device answers whatever port asks.
bool bind_from_port(NetSocket socket, std::uint32_t local_address, std::uint16_t local_port) {
    std::uint16_t port = local_port;
    for (int failures = 0;;) {
        NetAddress address;
        fill_sockaddr(local_address, port, &address);
        if (net_bind(socket, address)) return true;
        if (++failures > MAX_BIND_RETRIES) break;
        port = static_cast<std::uint16_t>(port + 1);
    }
    std::string walk_failure = net_last_error_text();
    NetAddress any_port;
    fill_sockaddr(local_address, 0, &any_port);
    NetAddress bound{};
    if (!net_bind(socket, any_port) || !net_local_address(socket, &bound)) return false;
    trace("HTTP local ports %u to %u could not be bound (%s); the system chose port %u\n",
          local_port, port, walk_failure.c_str(), net_ntohs(bound.port_be));
    return true;
}

// The request line, the fixed Host line the device expects, the Authorization line once a
// password is known, and Connection: close, as the client keeps no connection for a next request.
// Returns the length of the request text.
std::size_t write_request(DigestAuthState& auth, const char* path, char* buffer,
                          std::size_t size) {
    TextBuilder request;
    text_begin(&request, buffer, size);
    text_append(&request, "GET %s HTTP/1.1\r\n", path);
    text_append(&request, "Host: 192.168.2.110\r\n");
    if (auth.password[0] != 0) {
        auth.nonce_count += 1;
        copy_text(auth.uri, sizeof auth.uri, path);
        request.length += static_cast<std::size_t>(build_authorization_header(
            &auth, request.text + request.length, request.size - request.length));
    }
    text_append(&request, "Connection: close\r\n");
    text_append(&request, "\r\n");
    return request.length;
}

// The request as sent, except the digest response: the log is handed to other people, and the
// response hash with the challenge would let them try passwords offline.
void trace_request(const char* request) {
    if (!trace_enabled()) return;
    const char* const MARK = ",response=\"";
    const char* hash = std::strstr(request, MARK);
    if (hash == nullptr) {
        trace("%s", request);
        return;
    }
    hash += std::strlen(MARK);
    const char* end = std::strchr(hash, '"');
    if (end == nullptr) end = hash + std::strlen(hash);
    trace("%.*s(not logged)%s", static_cast<int>(hash - request), request, end);
}

// What the answer was, in one line: its status line, or that there was none.
void trace_answer(const char* answer, std::int32_t received, int status) {
    if (received <= 0) {
        trace("HTTP answer: none, the device closed the connection without a byte\n");
        return;
    }
    std::size_t line = std::strcspn(answer, "\r\n");
    if (line > 80) line = 80;
    const char* verdict = status == HTTP_STATUS_OK            ? "OK"
                          : status == HTTP_AUTH_CHALLENGE     ? "digest challenge"
                          : status == HTTP_OTHER_STATUS       ? "other status"
                                                              : "not an HTTP/1.0 or 1.1 status line";
    trace("HTTP answer: %ld bytes, status line \"%.*s\" (%s)\n", static_cast<long>(received),
          static_cast<int>(line), answer, verdict);
}

// Hands the socket to stop, so another thread can shut it; false when the exchange was ended
// already.
bool adopt_socket(HttpStop* stop, NetSocket socket) {
    if (stop == nullptr) return true;
    std::lock_guard<std::mutex> hold(stop->lock);
    if (stop->stopped) return false;
    stop->socket = socket;
    return true;
}

void close_socket(HttpStop* stop, NetSocket socket) {
    if (stop != nullptr) {
        std::lock_guard<std::mutex> hold(stop->lock);
        stop->socket = NET_INVALID_SOCKET;
    }
    net_close(socket);
}

bool stopped(const HttpStop* stop) { return stop != nullptr && stop->stopped; }

// The time the answer has, counted from when the request went out; limit_ms 0: no limit.
struct AnswerTime {
    std::uint32_t limit_ms;
    std::uint32_t start_ms;
    bool passed;
};

// Until bytes can be received; false when the exchange is ended from outside, or its answer's
// time passes, first.
bool wait_for_bytes(NetSocket socket, const HttpStop* stop, AnswerTime* time) {
    if (stop == nullptr && time->limit_ms == 0) return true;
    for (;;) {
        std::uint32_t wait_ms = STOP_CHECK_MS;
        if (time->limit_ms != 0) {
            std::uint32_t spent = clock_ms() - time->start_ms;
            if (spent >= time->limit_ms) {
                time->passed = true;
                return false;
            }
            if (time->limit_ms - spent < wait_ms) wait_ms = time->limit_ms - spent;
        }
        if (net_wait_stream(socket, clock_real_wait_ms(wait_ms))) return !stopped(stop);
        if (stopped(stop)) return false;
    }
}

// Reads until the answer is whole by its own length, the device closes the connection, an error,
// limit bytes, or the answer's time passes; returns the answer's length, with a NUL after it.
std::int32_t receive_answer(NetSocket socket, char* buffer, std::int32_t limit, const HttpStop* stop,
                            AnswerTime* time, AnswerReader* answer) {
    answer_begin(answer, buffer);
    while (!answer_complete(answer) && answer->received < limit &&
           wait_for_bytes(socket, stop, time)) {
        long got = net_recv(socket, buffer + answer->received,
                            static_cast<std::size_t>(limit - answer->received));
        if (got <= 0) break;
        buffer[answer->received + got] = 0;
        answer_take(answer, static_cast<std::int32_t>(got));
    }
    // With nothing received the request text stays in the buffer, as it was sent.
    if (answer->received > 0) buffer[answer->length] = 0;
    return answer->length;
}

// After an answer whole by its own length, a short wait for the device to close, as a TEV does
// after every answer. The side that closes first keeps its port in TIME_WAIT for a minute; when
// that is the device's side, this computer's port is free again at once, for the next request and
// the next run. A server that keeps the connection open is closed from here after the wait.
void await_device_close(NetSocket socket) {
    char rest[64];
    if (net_wait_stream(socket, DEVICE_CLOSE_WAIT_MS) && net_recv(socket, rest, sizeof rest) == 0) {
        trace("HTTP the device closed the connection after its answer\n");
    } else {
        trace("HTTP the device kept the connection open after its answer; closed from here\n");
    }
}

// How the answer ended, for the support log.
void trace_answer_end(const AnswerReader& answer, std::int32_t limit, const HttpStop* stop) {
    if (answer.length <= 0) return;
    if (answer_complete(&answer)) {
        trace("HTTP answer ended at its %s\n",
              answer.end == AnswerEnd::AT_LAST_CHUNK ? "last chunk" : "length");
    } else if (stopped(stop)) {
        trace("HTTP answer cut short: another request to the device ended the exchange\n");
    } else if (answer.received >= limit) {
        trace("HTTP answer cut at the buffer's %ld bytes\n", static_cast<long>(limit));
    } else {
        const char* connection =
            answer.header_length > 0 ? find_header(next_line(answer.buffer), "Connection") : nullptr;
        trace("HTTP answer ended when the device closed the connection%s%.*s\n",
              connection != nullptr ? "; it said Connection: " : "",
              connection != nullptr ? static_cast<int>(std::strcspn(connection, "\r\n")) : 0,
              connection != nullptr ? connection : "");
    }
}

}  // namespace

NetSocket open_http_connection(std::uint32_t local_address, std::uint16_t local_port,
                               std::uint32_t device_address, std::uint16_t device_port,
                               HttpSetupFailure* failure, HttpStop* stop, int connect_limit_ms) {
    NetSocket socket = net_tcp_socket();
    if (socket == NET_INVALID_SOCKET) {
        *failure = HttpSetupFailure::NO_SOCKET;
        return NET_INVALID_SOCKET;
    }
    // Handed over before the connect, so that a connect that waits can be ended too.
    if (!adopt_socket(stop, socket)) {
        net_close(socket);
        return NET_INVALID_SOCKET;
    }
    if (!bind_from_port(socket, local_address, local_port)) {
        close_socket(stop, socket);
        *failure = HttpSetupFailure::NO_BIND;
        return NET_INVALID_SOCKET;
    }
    NetAddress device;
    fill_sockaddr(device_address, device_port, &device);
    NetAddress bound{};
    std::uint32_t bound_address = local_address;
    std::uint16_t bound_port = local_port;
    if (trace_enabled() && net_local_address(socket, &bound)) {
        read_sockaddr(bound, &bound_address, &bound_port);
    }
    trace("HTTP connecting from %s:%u to %s:%u\n", dotted(bound_address).text, bound_port,
          dotted(device_address).text, device_port);
    if (connect_limit_ms > 0 ? net_connect_within(socket, device, connect_limit_ms)
                             : net_connect(socket, device)) {
        trace("HTTP connected\n");
        return socket;
    }
    const char* reason = net_last_error_text();
    trace("HTTP connection failed: %s\n", reason);
    close_socket(stop, socket);
    return NET_INVALID_SOCKET;
}

void http_stop(HttpStop* stop) {
    std::lock_guard<std::mutex> hold(stop->lock);
    stop->stopped = true;
    if (stop->socket != NET_INVALID_SOCKET) net_shutdown(stop->socket);
}

std::int32_t http_exchange(HttpExchange* exchange, std::uint32_t local_address,
                           std::uint16_t local_port, std::uint32_t device_address,
                           std::uint16_t device_port, const char* path, char* buffer,
                           std::int32_t limit) {
    exchange->failure = HttpSetupFailure::NONE;
    exchange->answer_late = false;
    HttpStop* stop = exchange->stop;
    NetSocket socket = NET_INVALID_SOCKET;
    int attempts = exchange->connect_attempts;
    for (int attempt = 0;
         attempt < attempts && socket == NET_INVALID_SOCKET && !stopped(stop); ++attempt) {
        if (attempt > 0) run_events().connecting(attempt + 1, attempts);
        socket = open_http_connection(local_address, local_port, device_address, device_port,
                                      &exchange->failure, stop, exchange->connect_limit_ms);
        if (exchange->failure != HttpSetupFailure::NONE) return 0;
    }
    if (socket == NET_INVALID_SOCKET) {
        if (stopped(stop)) {
            trace("HTTP connection attempts ended: another request to the device comes first\n");
        } else {
            trace("HTTP no connection after %d attempts\n", attempts);
        }
        return 0;
    }
    NetAddress from{};
    std::uint16_t from_port = 0;
    if (net_local_address(socket, &from)) read_sockaddr(from, &exchange->connected_from, &from_port);

    if (limit < 0) limit = 0;
    std::size_t length = write_request(*exchange->auth, path, buffer, static_cast<std::size_t>(limit) + 1);
    trace_request(buffer);
    // A failed send shows as an empty or failed receive below.
    AnswerTime time{exchange->answer_limit_ms, clock_ms(), false};
    net_send_all(socket, buffer, length);

    AnswerReader answer;
    std::int32_t received = receive_answer(socket, buffer, limit, stop, &time, &answer);
    if (time.passed) {
        exchange->answer_late = true;
        trace("HTTP no whole answer within %lu ms (%ld bytes came): taken as no answer\n",
              static_cast<unsigned long>(time.limit_ms), static_cast<long>(received));
        close_socket(stop, socket);
        return 0;
    }
    if (answer_complete(&answer)) await_device_close(socket);
    trace("recv done\n");
    trace("%.*s", static_cast<int>(received), buffer);
    trace("\n");

    // An exchange ended from outside takes no challenge: its caller must not ask for a password
    // while the request that ended it runs.
    DigestAuthState ignored{};
    bool ended_from_outside = stopped(stop);
    int status = classify_http_status(buffer, ended_from_outside ? &ignored : exchange->auth);
    if (ended_from_outside && status == HTTP_AUTH_CHALLENGE) status = HTTP_OTHER_STATUS;
    if (ended_from_outside && received <= 0) {
        trace("HTTP answer: none, another request to the device ended the exchange first\n");
    } else {
        trace_answer(buffer, received, status);
    }
    trace_answer_end(answer, limit, stop);
    if (status == HTTP_AUTH_CHALLENGE) {
        close_socket(stop, socket);
        return -1;
    }
    if (received > 0) scrape_device_info(buffer, exchange->device_info);
    close_socket(stop, socket);
    return received;
}

int classify_http_status(const char* text, DigestAuthState* auth) {
    if (std::strncmp(text, "HTTP/1.1", 8) != 0 && std::strncmp(text, "HTTP/1.0", 8) != 0) {
        return HTTP_NOT_HTTP11;
    }
    if (text[8] == 0) return HTTP_NO_STATUS;
    const char* status = text + 9;  // the version and the one character after it
    while (*status == ' ' || *status == '\t') ++status;
    if (*status == 0) return HTTP_NO_STATUS;
    if (std::strncmp(status, "200", 3) == 0) return HTTP_STATUS_OK;
    if (std::strncmp(status, "401", 3) != 0) return HTTP_OTHER_STATUS;
    // The challenge is read from the header lines only, never from the body.
    const char* headers = next_line(status);
    if (headers != nullptr && parse_digest_challenge(headers, auth) == 0) return HTTP_AUTH_CHALLENGE;
    return HTTP_OTHER_STATUS;
}

char* scrape_label_value(const char* text, const char* label, char* destination, int max_chars) {
    const char* at = std::strstr(text, label);
    if (at == nullptr) return nullptr;
    // Past the next '>', and on past each tag that follows directly.
    do {
        at = std::strchr(at, '>');
        if (at == nullptr) return nullptr;
        ++at;
    } while (*at == '<');
    int copied = 0;
    while (copied < max_chars && at[copied] != 0 && at[copied] != '<') {
        destination[copied] = at[copied];
        ++copied;
    }
    destination[copied] = 0;
    return destination;
}

void scrape_device_info(const char* text, DeviceInfo* info) {
    for (const StatusPageLabel& entry : STATUS_PAGE_LABELS) {
        scrape_label_value(text, entry.label, info->*entry.field, SCRAPE_VALUE_MAX);
    }
}
