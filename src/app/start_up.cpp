// Start-up: everything the upgrade needs before its first dialog.
#include "app/start_up.h"

#include <cstring>

#include "app/command_line.h"
#include "app/trace_log.h"
#include "app/upgrade_sequence.h"
#include "core/run_images.h"
#include "core/run_report.h"
#include "core/trace.h"
#include "program_version.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "ui/error_box.h"

namespace {
const char* const WINDOW_CLASS_NAME = "TevUpgrade";

void trace_local_addresses() {
    int count = 0;
    while (count < LOCAL_ADDRESS_COUNT && upgrade_state.local_addresses[count] != 0) ++count;
    if (count == 0) {
        trace("Local IPv4 addresses of host '%s': none found, sockets bind to any address\n",
              upgrade_state.host_name);
        return;
    }
    trace("Local IPv4 addresses of host '%s': %d\n", upgrade_state.host_name, count);
    for (int i = 0; i < count; ++i) {
        trace("  local address %d: %s\n", i + 1, dotted(upgrade_state.local_addresses[i]).text);
    }
}

}  // namespace

bool support_log_open(const char* path, char* reason, std::size_t reason_size) {
    if (!trace_log_open(path, reason, reason_size)) return false;
    trace_name_thread("main");
    trace("%s", version_text().c_str());
    return true;
}

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
    trace_local_addresses();
}

void start_up() {
    if (!net_start()) fail_upgrade("Upgrade Failed: Winsock init error");
    net_host_name(upgrade_state.host_name, HOST_NAME_SIZE);
    std::uint32_t own[NET_MAX_HOST_ADDRESSES];
    int count = net_own_addresses(upgrade_state.host_name, own, NET_MAX_HOST_ADDRESSES);
    store_local_addresses(own, count);
    std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
    random_seed(clock_ms());
    dialogs_init_common_controls();
    const char* failure = load_firmware_images();
    if (failure != nullptr) fail_upgrade(failure);
    identify_product();
    run_images_use_carried(upgrade_state.target_image);
}

int upgrade_main(ModuleHandle instance) {
    trace_name_thread("main");
    if (!window_class_register(WINDOW_CLASS_NAME, instance, upgrade_window_proc)) return 0;
    upgrade_state.app_instance = instance;
    start_up();
    run_events().started(TEV_PROGRAM_VERSION, upgrade_state.product_label,
                         image_version(upgrade_state.target_image));
    return run_upgrade_sequence();
}
