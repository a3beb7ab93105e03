// The trace hook: discards by default; tests and diagnostics install a sink.
#include "app/trace.h"

namespace {
TraceSink current_sink = nullptr;
}

void trace_set_sink(TraceSink sink) { current_sink = sink; }

void trace(const char* format, ...) {
    TraceSink sink = current_sink;
    if (sink == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    sink(format, arguments);
    va_end(arguments);
}
