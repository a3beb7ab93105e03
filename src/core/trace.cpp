// The trace hook: discards by default; tests and the support log install a sink.
#include "core/trace.h"

#include <atomic>
#include <cstdio>

namespace {
// Set once before the threads that trace start, read by all of them.
std::atomic<TraceSink> current_sink{nullptr};
thread_local const char* current_thread_name = nullptr;
}  // namespace

void trace_set_sink(TraceSink sink) { current_sink.store(sink); }

bool trace_enabled() { return current_sink.load() != nullptr; }

void trace_name_thread(const char* name) { current_thread_name = name; }

const char* trace_thread_name() { return current_thread_name; }

void trace(const char* format, ...) {
    TraceSink sink = current_sink.load();
    if (sink == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    sink(format, arguments);
    va_end(arguments);
}

DottedAddress dotted(unsigned address) {
    DottedAddress out;
    std::snprintf(out.text, sizeof out.text, "%u.%u.%u.%u", (address >> 24) & 0xFFu,
                  (address >> 16) & 0xFFu, (address >> 8) & 0xFFu, address & 0xFFu);
    return out;
}
