// Start-up: everything the upgrade needs before its first dialog.
#include "app/start_up.h"

#include <cstring>

#include "app/trace.h"
#include "app/upgrade_sequence.h"
#include "app/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/process.h"
#include "ui/error_box.h"

namespace {
const char* const WINDOW_CLASS_NAME = "TevUpgrade";

[[noreturn]] void fail(const char* message) {
    show_error_box(message);
    process_exit_ok();
}
}  // namespace

std::intptr_t upgrade_window_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t) {
    return 0;
}

void store_local_addresses(const std::uint32_t* addresses_be, int count) {
    std::memset(upgrade_state.local_addresses, 0, sizeof upgrade_state.local_addresses);
    for (int i = 0; i < count && i < LOCAL_ADDRESS_COUNT; ++i) {
        upgrade_state.local_addresses[i] = net_ntohl(addresses_be[i]);
        trace("Client IP = %x\n", addresses_be[i]);
    }
    upgrade_state.local_ip = upgrade_state.local_addresses[0];
}

void start_up() {
    if (!net_start()) fail("Upgrade Failed: Winsock init error");
    net_host_name(upgrade_state.host_name, HOST_NAME_SIZE);
    std::uint32_t resolved[NET_MAX_HOST_ADDRESSES];
    int count = net_resolve_host(upgrade_state.host_name, resolved, NET_MAX_HOST_ADDRESSES);
    store_local_addresses(resolved, count);
    std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
    random_seed(clock_ms());
    dialogs_init_common_controls();
    const char* failure = load_firmware_images();
    if (failure != nullptr) fail(failure);
    identify_product();
}

int upgrade_main(ModuleHandle instance) {
    if (!window_class_register(WINDOW_CLASS_NAME, instance, upgrade_window_proc)) return 0;
    upgrade_state.app_instance = instance;
    start_up();
    return run_upgrade_sequence();
}
