// Support for the fuzz targets: exact-size texts, property checks, traces, no resources.
#include "fuzz_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "platform/posix/embedded_resources.h"

std::unique_ptr<char[]> fuzz_text(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<char[]> text(new char[size + 1]);
    if (size > 0) std::memcpy(text.get(), data, size);
    text[size] = 0;
    return text;
}

void fuzz_require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

// The fuzz targets carry no firmware images.
const EmbeddedResource* embedded_resources(int* count) {
    *count = 0;
    return nullptr;
}

namespace {
void format_into_nothing(const char* format, va_list arguments) {
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
}
}  // namespace

void fuzz_format_traces() { trace_set_sink(format_into_nothing); }
