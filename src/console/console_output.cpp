// Where the console front end prints, and the one lock every piece of printing takes.
#include "console/console_output.h"

#include "platform/posix/terminal.h"

namespace {
std::mutex output_mutex;
std::FILE* output = stdout;  // nullptr: headless, nothing is printed
bool bar_open = false;       // a redrawn progress line still waits for its line break
}  // namespace

HeldOutput::HeldOutput() : lock_(output_mutex), stream_(output) {}

bool HeldOutput::is_terminal() const { return terminal_stream_is(stream_); }

void HeldOutput::end_bar_line() {
    if (!bar_open || stream_ == nullptr) return;
    std::fputc('\n', stream_);
    bar_open = false;
}

void HeldOutput::bar_drawn() { bar_open = true; }

void console_say(const std::string& text) {
    HeldOutput held;
    std::FILE* out = held.stream();
    if (out == nullptr) return;
    held.end_bar_line();
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

void console_output_use(std::FILE* out) {
    std::lock_guard<std::mutex> lock(output_mutex);
    output = out;
    bar_open = false;
}
