// One HTTP/1.1 GET exchange with the device's web server, classification of the answer's status
// line, and the five values read off the device's status page. The exchange works on the digest
// state and the device values it is given and reports what kept it from connecting; it keeps no
// state and decides nothing about the upgrade.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/device_info.h"
#include "core/digest_auth_state.h"
#include "platform/net.h"
#include "platform/net_address.h"

// classify_http_status results.
constexpr int HTTP_NOT_HTTP11 = -1;
constexpr int HTTP_NO_STATUS = -2;
constexpr int HTTP_STATUS_OK = 0;
constexpr int HTTP_AUTH_CHALLENGE = 1;
constexpr int HTTP_OTHER_STATUS = 2;

constexpr int MAX_CONNECT_ATTEMPTS = 10;
constexpr int MAX_BIND_RETRIES = 100;  // 101 binds in all
constexpr int SCRAPE_VALUE_MAX = 127;

// Why an exchange could not even try to connect: the system gave no socket, or none of the 101
// local ports could be bound.
enum class HttpSetupFailure { NONE, NO_SOCKET, NO_BIND };

// Lets another thread end an exchange in progress (http_stop): its connection attempts stop, a
// wait for the answer returns, and the exchange ends with what it has received.
struct HttpStop {
    std::mutex lock;                         // held while the socket is handed over or shut
    NetSocket socket = NET_INVALID_SOCKET;   // the exchange's socket while it has one
    std::atomic<bool> stopped{false};
};

// Ends the exchange that uses stop, from any thread; it returns soon after.
void http_stop(HttpStop* stop);

// What one exchange reads and fills besides its buffer.
struct HttpExchange {
    DigestAuthState* auth;      // its password adds the Authorization line; a challenge lands here
    DeviceInfo* device_info;    // receives the status page values found in the answer
    HttpSetupFailure failure;   // set when the exchange ended before a connection attempt
    HttpStop* stop;             // nullptr: nobody ends this exchange from outside
    std::uint32_t connected_from = 0;  // this computer's address of the connection; 0: none made
    // How long the answer may take to arrive whole once the request is out, in ms; 0: as long as
    // the device takes. An answer not whole by then is no answer: a page cut short could show a
    // version cut short.
    std::uint32_t answer_limit_ms = 0;
    bool answer_late = false;  // set when the limit passed before the answer was whole
    // How many connection attempts, and how long each may wait for the device (ms; 0: as long
    // as the system waits).
    int connect_attempts = MAX_CONNECT_ATTEMPTS;
    int connect_limit_ms = 0;
};

// A TCP socket bound to local_address at local_port or one of the next 100 ports, connected to the
// device; NET_INVALID_SOCKET when the connect fails (within connect_limit_ms when not 0), or when
// no socket could be made or no port bound, which *failure then tells.
NetSocket open_http_connection(std::uint32_t local_address, std::uint16_t local_port,
                               std::uint32_t device_address, std::uint16_t device_port,
                               HttpSetupFailure* failure, HttpStop* stop = nullptr,
                               int connect_limit_ms = 0);

// GET path from the device, up to exchange->connect_attempts connection attempts. buffer holds limit + 1
// bytes: first the request, then the answer, NUL-terminated. The answer ends after its
// Content-Length, at its last chunk (kept without the chunk-size lines), or at the close.
// Returns -1 when the answer was a digest challenge now held in exchange->auth, 0 when no
// connection could be made, nothing came back, or the answer was not whole within
// exchange->answer_limit_ms (exchange->failure tells a failure to set one up), else the length of the answer (the status page values found in it are copied into
// exchange->device_info). An exchange ended through its stop takes no challenge.
std::int32_t http_exchange(HttpExchange* exchange, std::uint32_t local_address,
                           std::uint16_t local_port, std::uint32_t device_address,
                           std::uint16_t device_port, const char* path, char* buffer,
                           std::int32_t limit);

// One of the HTTP_* results for the NUL-terminated answer, whose status line may say HTTP/1.0 or
// HTTP/1.1; on "401" the Digest challenge among its headers goes into auth.
int classify_http_status(const char* text, DigestAuthState* auth);

// The text after label and the tags that follow it, up to the next tag, into destination (at most
// max_chars characters and a NUL). Returns destination, or nullptr with destination untouched when
// the label or a '>' after it is missing.
char* scrape_label_value(const char* text, const char* label, char* destination, int max_chars);

// The five status page values for the labels found in text; the others keep what they held.
void scrape_device_info(const char* text, DeviceInfo* info);
