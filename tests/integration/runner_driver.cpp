// runner-driver: sends the status query to a device through the device request runner, CALLS
// times in a row, with the console front end on standard input and output; prints each result.
// Usage: runner-driver DEVICE_ADDRESS CALLS (the upgrader's side is 127.0.0.1).
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/device_request.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/posix/embedded_resources.h"

// The runner needs no firmware image.
const EmbeddedResource* embedded_resources(int* count) {
    *count = 0;
    return nullptr;
}

int main(int argc, char** argv) {
    in_addr device{};
    if (argc != 3 || inet_pton(AF_INET, argv[1], &device) != 1) {
        std::fputs("usage: runner-driver DEVICE_ADDRESS CALLS\n", stderr);
        return 2;
    }
    int calls = std::atoi(argv[2]);
    net_start();
    random_seed(clock_ms());
    std::snprintf(upgrade_state.device_ip_text, DEVICE_IP_TEXT_SIZE, "%s", argv[1]);
    upgrade_state.local_ip = 0x7F000001u;
    upgrade_state.device_ip = ntohl(device.s_addr);
    for (int call = 1; call <= calls; ++call) {
        std::int32_t result = run_device_request(
            nullptr, upgrade_state.local_ip, HTTP_LOCAL_PORT, upgrade_state.device_ip,
            HTTP_DEVICE_PORT, STATUS_PAGE_PATH, upgrade_state.response_buffer, RESPONSE_LIMIT);
        std::printf("runner-driver: call %d returned %d\n", call, static_cast<int>(result));
        std::fflush(stdout);
    }
    return 0;
}
