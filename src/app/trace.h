// The trace hook: printf-style diagnostics at fixed points. It discards them unless a sink is set.
#pragma once
#include <cstdarg>

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

using TraceSink = void (*)(const char* format, va_list arguments);
void trace_set_sink(TraceSink sink);
