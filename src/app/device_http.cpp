// The upgrade's HTTP exchange with the device.
#include "app/device_http.h"

#include <atomic>

#include "core/upgrade_state.h"
#include "ui/error_box.h"

namespace {

// Written by a request's worker, read by the thread that ran the request once it has ended.
std::atomic<std::uint32_t> last_connected_from{0};
bool probe_only = false;

}  // namespace

void http_get_probe_only(bool probe) { probe_only = probe; }

std::uint32_t http_last_connected_from() { return last_connected_from.load(); }

std::int32_t http_get(std::uint32_t local_address, std::uint16_t local_port,
                      std::uint32_t device_address, std::uint16_t device_port, const char* path,
                      char* buffer, std::int32_t limit, HttpStop* stop,
                      std::uint32_t answer_limit_ms) {
    HttpExchange exchange{&upgrade_state.auth, &upgrade_state.device_info, HttpSetupFailure::NONE,
                          stop};
    exchange.answer_limit_ms = answer_limit_ms;
    if (probe_only) {
        exchange.connect_attempts = 1;
        exchange.connect_limit_ms = PROBE_CONNECT_LIMIT_MS;
    }
    std::int32_t result = http_exchange(&exchange, local_address, local_port, device_address,
                                        device_port, path, buffer, limit);
    if (exchange.connected_from != 0) last_connected_from.store(exchange.connected_from);
    switch (exchange.failure) {
        case HttpSetupFailure::NO_SOCKET: fail_upgrade("Upgrade Failed: Can't open HTTP socket");
        case HttpSetupFailure::NO_BIND: fail_upgrade("Upgrade Failed: Can't bind HTTP socket");
        case HttpSetupFailure::NONE: break;
    }
    return result;
}
