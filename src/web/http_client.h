// One HTTP/1.1 GET exchange with the device's web server, classification of the answer's status
// line, and the five values read off the device's status page. The exchange works on the digest
// state and the device values it is given and reports what kept it from connecting; it keeps no
// state and decides nothing about the upgrade.
#pragma once
#include <cstdint>

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

// What one exchange reads and fills besides its buffer.
struct HttpExchange {
    DigestAuthState* auth;      // its password adds the Authorization line; a challenge lands here
    DeviceInfo* device_info;    // receives the status page values found in the answer
    HttpSetupFailure failure;   // set when the exchange ended before a connection attempt
};

// A TCP socket bound to local_address at local_port or one of the next 100 ports, connected to the
// device; NET_INVALID_SOCKET when the connect fails, or when no socket could be made or no port
// bound, which *failure then tells.
NetSocket open_http_connection(std::uint32_t local_address, std::uint16_t local_port,
                               std::uint32_t device_address, std::uint16_t device_port,
                               HttpSetupFailure* failure);

// GET path from the device, up to MAX_CONNECT_ATTEMPTS connection attempts. buffer holds limit + 1
// bytes: first the request, then the answer, NUL-terminated. Returns -1 when the answer was a
// digest challenge now held in exchange->auth, 0 when no connection could be made or nothing came
// back (exchange->failure tells a failure to set one up), else the count of bytes received (the
// status page values found in them are copied into exchange->device_info).
std::int32_t http_exchange(HttpExchange* exchange, std::uint32_t local_address,
                           std::uint16_t local_port, std::uint32_t device_address,
                           std::uint16_t device_port, const char* path, char* buffer,
                           std::int32_t limit);

// One of the HTTP_* results for the NUL-terminated answer; on "401" the challenge goes into auth.
int classify_http_status(const char* text, DigestAuthState* auth);

// The text after label and the tags that follow it, up to the next tag, into destination (at most
// max_chars characters and a NUL). Returns destination, or nullptr with destination untouched when
// the label or a '>' after it is missing.
char* scrape_label_value(const char* text, const char* label, char* destination, int max_chars);

// The five status page values for the labels found in text; the others keep what they held.
void scrape_device_info(const char* text, DeviceInfo* info);
