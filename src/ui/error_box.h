// The error message box every failure goes through, and centring a window on the screen.
#pragma once
#include "platform/dialogs.h"

constexpr const char* ERROR_BOX_TITLE = "TEV Firwmare Upgrade Error";

// Task-modal box with OK only; title nullptr means the default title. Returns the box's result.
// Its text becomes the run's outcome: every error box ends the upgrade.
int show_error_box(const char* message, const char* title = nullptr);
// The end of an upgrade that cannot go on: the error box, then the run ends (status 1).
[[noreturn]] void fail_upgrade(const char* message);
// The position that centres a window of that size: differences halved by arithmetic shift.
int centred_position(int screen_extent, int window_extent);
void center_window(WindowHandle window);
