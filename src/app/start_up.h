// Program entry and start-up: the window class, sockets, own addresses, images and product.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/dialogs.h"

// The support log the user asked for, opened by the program's entry before anything is shown: the
// trace goes to it, starting with the program's version. False, with the system's reason, when
// the file cannot be created.
bool support_log_open(const char* path, char* reason, std::size_t reason_size);
// The upgrade, called by the program's entry with the module instance. Returns 0 at the early
// exits of the upgrade, where the entry ends the run; otherwise the run ends from elsewhere.
int upgrade_main(ModuleHandle instance);
std::intptr_t upgrade_window_proc(WindowHandle window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);
void start_up();
// Keeps the first 8 of the computer's own addresses (network order, in the order the platform
// gives them) as host-order local addresses.
void store_local_addresses(const std::uint32_t* addresses_be, int count);
