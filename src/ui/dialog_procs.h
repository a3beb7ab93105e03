// The dialog procedures: what each dialog writes when it opens and what its buttons do.
#pragma once
#include <cstdint>

#include "platform/dialogs.h"

std::intptr_t warning_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t address_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t password_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t confirm_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t success_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t connecting_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t transfer_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
