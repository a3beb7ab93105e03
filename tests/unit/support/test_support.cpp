// Helpers the unit tests share.
#include "test_support.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "core/trace.h"

namespace {

std::mutex kept_mutex;

std::string& kept() {
    static std::string text;
    return text;
}

// Whole lines, however long: the listener and the session trace from their own threads.
void keep_line(const char* format, va_list arguments) {
    va_list measure;
    va_copy(measure, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) return;
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    std::lock_guard<std::mutex> lock(kept_mutex);
    kept().append(text.data(), static_cast<std::size_t>(length));
}

}  // namespace

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

void keep_trace() {
    clear_kept_trace();
    trace_set_sink(keep_line);
}

void stop_keeping_trace() { trace_set_sink(nullptr); }

const std::string& kept_trace() { return kept(); }

void clear_kept_trace() {
    std::lock_guard<std::mutex> lock(kept_mutex);
    kept().clear();
}
