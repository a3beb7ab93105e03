// Program entry and start-up: the window class, sockets, own addresses, images and product.
#pragma once
#include <cstdint>

#include "platform/dialogs.h"

// The program's entry, called by the platform with the module instance and the log the user asked
// for (nullptr: none). Returns 0 at the early exits of the upgrade, where the entry ends the run;
// otherwise the run ends from elsewhere. A log that cannot be created ends it at once, after a box
// that says why.
int upgrade_main(ModuleHandle instance, const char* log_path = nullptr);
std::intptr_t upgrade_window_proc(WindowHandle window, unsigned message, std::uintptr_t wparam,
                                  std::intptr_t lparam);
void start_up();
// Keeps the first 8 of the computer's own addresses (network order, in the order the platform
// gives them) as host-order local addresses.
void store_local_addresses(const std::uint32_t* addresses_be, int count);
