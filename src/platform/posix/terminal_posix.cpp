// The terminal's echo and the question whether something is a terminal, through termios.
#include "platform/posix/terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Saved before the echo is turned off, so both the exit hook and a forced quit can restore it.
struct termios saved_settings;
volatile sig_atomic_t saved_fd = -1;  // -1: nothing saved
}  // namespace

bool terminal_is(int fd) { return isatty(fd) == 1; }

bool terminal_stream_is(std::FILE* stream) {
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

void terminal_hide_echo(int fd) {
    if (tcgetattr(fd, &saved_settings) != 0) return;
    saved_fd = fd;
    struct termios quiet = saved_settings;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(fd, TCSANOW, &quiet);
}

void terminal_put_back() {
    int fd = saved_fd;
    if (fd >= 0) tcsetattr(fd, TCSANOW, &saved_settings);
}

void terminal_show_echo() {
    terminal_put_back();
    saved_fd = -1;
}
