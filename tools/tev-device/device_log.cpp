// The device's log file and its echo on standard output.
#include "device_log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

std::FILE* log_file = nullptr;
bool echo = true;
bool details_wanted = true;
std::int64_t start_ms = -1;

std::int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void write_line(bool to_stdout, const char* format, va_list args) {
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    std::int64_t ms = elapsed_ms();
    if (log_file != nullptr) {
        std::fprintf(log_file, "[%6lld.%03lld] %s\n", static_cast<long long>(ms / 1000),
                     static_cast<long long>(ms % 1000), text);
        std::fflush(log_file);
    }
    if (to_stdout) {
        std::printf("tev-device: %s\n", text);
        std::fflush(stdout);
    }
}

}  // namespace

bool log_open(const char* path, bool echo_events, bool details) {
    elapsed_ms();
    echo = echo_events;
    details_wanted = details;
    log_file = std::fopen(path, "a");
    return log_file != nullptr;
}

std::int64_t elapsed_ms() {
    if (start_ms < 0) start_ms = monotonic_ms();
    return monotonic_ms() - start_ms;
}

void log_event(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_line(echo, format, args);
    va_end(args);
}

void log_detail(const char* format, ...) {
    if (!details_wanted) return;
    va_list args;
    va_start(args, format);
    write_line(false, format, args);
    va_end(args);
}

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("tev-device: ", stdout);
    std::vprintf(format, args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    va_end(args);
}
