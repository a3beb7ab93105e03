// The dialog procedures: what each dialog writes when it opens and what its buttons do.
#pragma once
#include <cstdint>

#include "platform/dialogs.h"

std::intptr_t warning_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t address_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
// What the address dialog takes, without the dialog, for a run that asks no question about the
// address (a check given the device): the device's address, and this computer's address to use,
// the one given, else the one the system routes to the device from when it is among this
// computer's. False, after the error box, for a local address this computer does not have.
bool take_address_without_dialog(const char* device, const char* local);
std::intptr_t password_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t confirm_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t success_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t connecting_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);
std::intptr_t transfer_dialog_proc(WindowHandle, unsigned, std::uintptr_t, std::intptr_t);

// The box the password dialog shows, and stays open after, for a user name it does not take.
constexpr const char* USER_NAME_REFUSED_TEXT =
    "Invalid User Name: it cannot contain \", \\ or control characters";
// False for a user name the digest Authorization header cannot carry as typed: a '"' or '\\' (a
// server that does not unescape it would read another name, and a trailing '\\' swallows the
// closing quote) or a control character (a line break would end the header early).
bool user_name_sendable(const char* name);
