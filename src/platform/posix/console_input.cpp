// Typed lines for the console front end. One buffer serves every thread: questions block on it,
// modeless dialogs only peek for "cancel"; Ctrl-C raises a flag that either of them takes.
#include "platform/posix/console_input.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <mutex>

#include "platform/process.h"

namespace {

constexpr int POLL_STEP_MS = 100;
constexpr std::size_t READ_CHUNK = 512;

std::mutex input_mutex;
int input_fd = 0;
std::string buffered;
bool input_ended = false;
std::atomic<int> waiting_questions{0};

volatile sig_atomic_t interrupt_pending = 0;
// Ctrl-C writes a byte here, so that a wait on the read end ends even when the signal comes just
// before the wait begins; taking the interrupt drains it.
int interrupt_pipe[2] = {-1, -1};
// A wait was ended by input that no look has taken since. The next wait leaves the input out, so
// that input nobody reads (no dialog shown) cannot end every wait at once.
std::atomic<bool> input_told{false};
// Saved before the echo is turned off, so both the exit hook and a forced quit can restore it.
struct termios saved_terminal;
volatile sig_atomic_t terminal_saved = 0;

void restore_terminal_now() {
    if (terminal_saved) tcsetattr(input_fd, TCSANOW, &saved_terminal);
}

// The first Ctrl-C presses Cancel; a second one before anything took the first ends the
// program at once, as Ctrl-C ordinarily does.
void on_interrupt(int) {
    if (interrupt_pending) {
        restore_terminal_now();
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

bool take_interrupt() {
    if (!interrupt_pending) return false;
    interrupt_pending = 0;
    char bytes[16];
    if (interrupt_pipe[0] >= 0) {
        while (read(interrupt_pipe[0], bytes, sizeof bytes) > 0) {
        }
    }
    return true;
}

// Takes one whole line from the buffer (or the last, unterminated one at the end of input).
bool take_buffered_line(std::string* line) {
    std::size_t end = buffered.find('\n');
    if (end == std::string::npos) {
        if (!input_ended || buffered.empty()) return false;
        end = buffered.size();
    }
    *line = buffered.substr(0, end);
    buffered.erase(0, end < buffered.size() ? end + 1 : end);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// Reads what is there without waiting. Called with the mutex held, so two readers never both
// find the descriptor readable and then block on it.
void fill_without_waiting() {
    input_told = false;
    if (input_ended) return;
    struct pollfd ready {
        input_fd, POLLIN, 0
    };
    int polled = poll(&ready, 1, 0);
    if (polled < 0 && errno != EINTR) {
        // Input that cannot even be polled (no descriptors left, say) will never bring a line.
        input_ended = true;
        return;
    }
    if (polled <= 0) return;
    char chunk[READ_CHUNK];
    ssize_t got = read(input_fd, chunk, sizeof chunk);
    if (got > 0) {
        buffered.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        input_ended = true;
    }
}

void set_echo(bool on) {
    if (!on) {
        if (tcgetattr(input_fd, &saved_terminal) != 0) return;
        terminal_saved = 1;
        struct termios quiet = saved_terminal;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(input_fd, TCSANOW, &quiet);
        return;
    }
    restore_terminal_now();
    terminal_saved = 0;
}

bool is_cancel_word(const std::string& line) {
    std::size_t first = line.find_first_not_of(" \t");
    std::size_t last = line.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    std::string word = line.substr(first, last - first + 1);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "cancel";
}

}  // namespace

void console_input_use(int fd) {
    std::lock_guard<std::mutex> lock(input_mutex);
    input_fd = fd;
    buffered.clear();
    input_ended = false;
    input_told = false;
    interrupt_pending = 0;
}

bool console_input_is_terminal() { return isatty(input_fd) == 1; }

void console_input_restore_terminal() { restore_terminal_now(); }

void console_input_prepare() {
    static std::once_flag prepared;
    std::call_once(prepared, [] {
        if (pipe2(interrupt_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            interrupt_pipe[0] = interrupt_pipe[1] = -1;
        }
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no restart: a waiting poll returns at once
        sigaction(SIGINT, &action, nullptr);
        process_set_exit_hook(console_input_restore_terminal);
    });
}

InputResult console_read_line(std::string* line, bool hide_echo) {
    ++waiting_questions;
    bool quiet = hide_echo && console_input_is_terminal();
    if (quiet) set_echo(false);
    InputResult result = InputResult::END;
    for (;;) {
        if (take_interrupt()) {
            result = InputResult::INTERRUPTED;
            break;
        }
        {
            std::lock_guard<std::mutex> lock(input_mutex);
            fill_without_waiting();
            if (take_buffered_line(line)) {
                result = InputResult::LINE;
                break;
            }
            if (input_ended) break;
        }
        struct pollfd ready {
            input_fd, POLLIN, 0
        };
        poll(&ready, 1, POLL_STEP_MS);
    }
    if (quiet) set_echo(true);
    --waiting_questions;
    return result;
}

bool console_take_cancel_request() {
    input_told = false;
    if (waiting_questions.load() > 0) return false;
    if (take_interrupt()) return true;
    std::lock_guard<std::mutex> lock(input_mutex);
    fill_without_waiting();
    std::size_t end = buffered.find('\n');
    if (end == std::string::npos && !input_ended) return false;
    if (end == std::string::npos) end = buffered.size();
    if (!is_cancel_word(buffered.substr(0, end))) return false;
    buffered.erase(0, end < buffered.size() ? end + 1 : end);
    return true;
}

int console_input_wake_descriptors(int* descriptors) {
    // A question takes both the interrupt and the lines while it waits.
    if (waiting_questions.load() > 0 || input_told.load()) return 0;
    int count = 0;
    if (interrupt_pipe[0] >= 0) descriptors[count++] = interrupt_pipe[0];
    std::lock_guard<std::mutex> lock(input_mutex);
    if (!input_ended) descriptors[count++] = input_fd;
    return count;
}

void console_input_told() { input_told = true; }
