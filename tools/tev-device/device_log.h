// The device's log: one line per thing it saw or did, with the time since start, appended to a
// file that tests read; events also go to standard output unless the device runs quietly.
#pragma once
#include <cstdint>

// details: whether the lines for every packet and connection are written too.
bool log_open(const char* path, bool echo_events, bool details = true);
// Milliseconds since the device started (monotonic).
std::int64_t elapsed_ms();
// A notable event: log file and standard output.
void log_event(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A detail (every block, every packet): log file only.
void log_detail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A line for standard output only, flushed at once (the ready line tests wait for).
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
