// The deadline every unattended run keeps, one device or many: nobody is there to press Cancel.
#pragma once

// Far past any upgrade that is still getting somewhere (about 31 s, 58 s with a silent device).
constexpr long DEFAULT_RUN_DEADLINE_S = 600;
constexpr long MAX_RUN_DEADLINE_S = 86400;

// Seconds from a --deadline value, 1 to MAX_RUN_DEADLINE_S; false for anything else.
bool read_deadline_seconds(const char* text, long* seconds);
