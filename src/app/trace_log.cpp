// The support log: a trace sink that writes stamped lines to a file, one thread at a time.
#include "app/trace_log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/trace.h"
#include "platform/clock.h"

namespace {

// The listener, a request worker and the main thread trace at the same time; the lock keeps
// their lines whole and in the order they were written.
std::mutex log_lock;
std::FILE* log_file = nullptr;
std::uint32_t log_start_ms = 0;
std::atomic<int> unnamed_threads{0};

const char* thread_label() {
    const char* name = trace_thread_name();
    if (name != nullptr) return name;
    thread_local char label[16] = "";
    if (label[0] == 0) std::snprintf(label, sizeof label, "thread-%d", ++unnamed_threads);
    return label;
}

void append_escaped(std::string* out, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out->append(escaped);
        } else {
            out->push_back(static_cast<char>(byte));
        }
    }
}

void write_to_log(const char* format, va_list arguments) {
    char small[512];
    va_list again;
    va_copy(again, arguments);
    int length = std::vsnprintf(small, sizeof small, format, arguments);
    std::vector<char> large;
    const char* text = small;
    if (length >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (length <= 0) return;

    std::lock_guard<std::mutex> hold(log_lock);
    if (log_file == nullptr) return;
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "%8lu ms %-8s ",
                  static_cast<unsigned long>(clock_ms() - log_start_ms), thread_label());
    std::string lines = format_log_lines(prefix, text, static_cast<std::size_t>(length));
    // Flushed at once, so that a killed process leaves every whole line written before it.
    std::fwrite(lines.data(), 1, lines.size(), log_file);
    std::fflush(log_file);
}

}  // namespace

std::string format_log_lines(const char* prefix, const char* text, std::size_t length) {
    std::string out;
    // A line feed alone ends the line that the call before it has ended already.
    if (length == 1 && text[0] == '\n') return out;
    std::size_t start = 0;
    while (start < length) {
        const void* found = std::memchr(text + start, '\n', length - start);
        std::size_t end = found != nullptr ? static_cast<const char*>(found) - text : length;
        std::size_t line_end = end;
        if (line_end > start && text[line_end - 1] == '\r') --line_end;
        out.append(prefix);
        append_escaped(&out, text + start, line_end - start);
        out.push_back('\n');
        start = end + 1;
    }
    return out;
}

bool trace_log_open(const char* path, char* reason, std::size_t reason_size) {
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        std::snprintf(reason, reason_size, "%s", std::strerror(errno));
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(log_lock);
        log_file = file;
        log_start_ms = clock_ms();
    }
    trace_set_sink(write_to_log);
    return true;
}

void trace_log_close() {
    trace_set_sink(nullptr);
    std::lock_guard<std::mutex> hold(log_lock);
    if (log_file != nullptr) std::fclose(log_file);
    log_file = nullptr;
}
