// The trace hook: printf-style diagnostics at fixed points. It discards them unless a sink is set.
#pragma once
#include <cstdarg>

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

using TraceSink = void (*)(const char* format, va_list arguments);
void trace_set_sink(TraceSink sink);
// True while a sink takes the trace: lets a caller skip work whose only use is a trace line.
bool trace_enabled();

// The name the sink shows for the calling thread's lines ("main", "listener", ...); the text must
// outlive the thread. nullptr when the thread was never named.
void trace_name_thread(const char* name);
const char* trace_thread_name();

// An IPv4 address in host order as dotted text, for trace lines: trace("%s", dotted(ip).text).
struct DottedAddress {
    char text[16];
};
DottedAddress dotted(unsigned address);
