// Ctrl-C on POSIX: a SIGINT handler that raises a flag and writes a byte into a pipe.
#include "platform/posix/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/posix/terminal.h"

namespace {

volatile sig_atomic_t interrupt_pending = 0;
int interrupt_pipe[2] = {-1, -1};

void on_interrupt(int) {
    if (interrupt_pending) {
        terminal_put_back();
        signal(SIGINT, SIG_DFL);
        raise(SIGINT);
        return;
    }
    interrupt_pending = 1;
    if (interrupt_pipe[1] >= 0) {
        char byte = 1;
        ssize_t written = write(interrupt_pipe[1], &byte, 1);
        (void)written;  // a full pipe already wakes every wait
    }
}

}  // namespace

void interrupt_catch() {
    if (pipe2(interrupt_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        interrupt_pipe[0] = interrupt_pipe[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a waiting poll returns at once
    sigaction(SIGINT, &action, nullptr);
}

bool interrupt_take() {
    if (!interrupt_pending) return false;
    interrupt_pending = 0;
    char bytes[16];
    if (interrupt_pipe[0] >= 0) {
        while (read(interrupt_pipe[0], bytes, sizeof bytes) > 0) {
        }
    }
    return true;
}

int interrupt_wake_descriptor() { return interrupt_pipe[0]; }
