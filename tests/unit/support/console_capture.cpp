// Feeds the console front end from a pipe and prints it into a temporary file.
#include "console_capture.h"

#include <unistd.h>

#include "console/console_input.h"
#include "console/console_output.h"

ConsoleCapture::ConsoleCapture(const std::string& typed, bool keep_open) {
    int ends[2];
    if (pipe(ends) == 0) {
        read_end_ = ends[0];
        write_end_ = ends[1];
    }
    type(typed);
    if (!keep_open) end_input();
    out_ = std::tmpfile();
    console_input_use(read_end_);
    console_output_use(out_);
}

ConsoleCapture::~ConsoleCapture() {
    console_input_use(0);
    console_output_use(stdout);
    end_input();
    if (read_end_ >= 0) close(read_end_);
    if (out_ != nullptr) std::fclose(out_);
}

void ConsoleCapture::type(const std::string& more) {
    if (write_end_ < 0 || more.empty()) return;
    ssize_t written = write(write_end_, more.data(), more.size());
    (void)written;
}

void ConsoleCapture::end_input() {
    if (write_end_ < 0) return;
    close(write_end_);
    write_end_ = -1;
}

std::string ConsoleCapture::printed() {
    std::fflush(out_);
    std::string text;
    std::rewind(out_);
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, out_)) > 0) text.append(chunk, got);
    return text;
}
