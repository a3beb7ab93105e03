// The upgrade's HTTP exchange with the device: the web client working on the process-wide record.
#pragma once
#include <cstdint>

#include "web/http_client.h"

// GET path from the device. buffer holds limit + 1 bytes: first the request, then the answer,
// NUL-terminated. Returns -1 when the answer was a digest challenge now held in upgrade_state.auth,
// 0 when no connection could be made or nothing came back, else the count of bytes received
// (the status page values found in them are copied into upgrade_state.device_info). Ends the
// upgrade with the error box when no socket can be made or no port bound. With stop, another
// thread may end the exchange (http_stop). With answer_limit_ms, an answer not whole that long
// after the request went out counts as none (0).
std::int32_t http_get(std::uint32_t local_address, std::uint16_t local_port,
                      std::uint32_t device_address, std::uint16_t device_port, const char* path,
                      char* buffer, std::int32_t limit, HttpStop* stop = nullptr,
                      std::uint32_t answer_limit_ms = 0);
// A scan's probe (the hidden --scan-probe): each request connects once, and gives up on a device
// that has not answered the connect within PROBE_CONNECT_LIMIT_MS. An upgrade keeps its
// MAX_CONNECT_ATTEMPTS with the system's own limit.
constexpr int PROBE_CONNECT_LIMIT_MS = 2000;
void http_get_probe_only(bool probe);
// This computer's address of the last connection an exchange made (host order); 0 before any.
std::uint32_t http_last_connected_from();
