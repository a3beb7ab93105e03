// Typed lines for the console front end. One buffer serves every thread: questions block on it,
// modeless dialogs only peek for "cancel"; Ctrl-C raises a flag that either of them takes.
#include "console/console_input.h"

#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/posix/datagram_wake.h"
#include "platform/posix/input_stream.h"
#include "platform/posix/interrupt.h"
#include "platform/posix/terminal.h"
#include "platform/process.h"

namespace {

constexpr int POLL_STEP_MS = 100;
constexpr std::size_t READ_CHUNK = 512;

std::mutex input_mutex;
int input_fd = 0;
std::string buffered;
bool input_ended = false;
std::atomic<int> waiting_questions{0};

// A wait was ended by input that no look has taken since. The next wait leaves the input out, so
// that input nobody reads (no dialog shown) cannot end every wait at once.
std::atomic<bool> input_told{false};

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
    InputWait ready = input_wait(input_fd, 0);
    if (ready == InputWait::BROKEN) {
        // Input that cannot even be waited on will never bring a line.
        input_ended = true;
        return;
    }
    if (ready == InputWait::NOTHING) return;
    char chunk[READ_CHUNK];
    long got = input_read(input_fd, chunk, sizeof chunk);
    if (got > 0) {
        buffered.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0) {
        input_ended = true;
    }
}

bool is_cancel_word(const std::string& line) {
    std::size_t first = line.find_first_not_of(" \t");
    std::size_t last = line.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    std::string word = line.substr(first, last - first + 1);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "cancel";
}

// What a wait for a datagram also wakes for, so that Cancel answers at once: the pipe that Ctrl-C
// writes into, and the input itself while it can bring a line and no question waits for one
// (then a look for "cancel" reads what came).
int wake_descriptors(int* descriptors) {
    // A question takes both the interrupt and the lines while it waits.
    if (waiting_questions.load() > 0 || input_told.load()) return 0;
    int count = 0;
    int interrupt = interrupt_wake_descriptor();
    if (interrupt >= 0) descriptors[count++] = interrupt;
    std::lock_guard<std::mutex> lock(input_mutex);
    if (!input_ended) descriptors[count++] = input_fd;
    return count;
}

// The wait tells that one of them ended it; until the next look for "cancel" or a line, none is
// given again.
void wake_told() { input_told = true; }

const DatagramWake input_wake{wake_descriptors, wake_told};

}  // namespace

void console_input_use(int fd) {
    std::lock_guard<std::mutex> lock(input_mutex);
    input_fd = fd;
    buffered.clear();
    input_ended = false;
    input_told = false;
    interrupt_take();  // a Ctrl-C meant for the input before
}

bool console_input_is_terminal() { return terminal_is(input_fd); }

void console_input_restore_terminal() { terminal_put_back(); }

void console_input_prepare() {
    static std::once_flag prepared;
    std::call_once(prepared, [] {
        interrupt_catch();
        process_set_exit_hook(console_input_restore_terminal);
        datagram_wake_use(&input_wake);
    });
}

InputResult console_read_line(std::string* line, bool hide_echo) {
    ++waiting_questions;
    bool quiet = hide_echo && console_input_is_terminal();
    if (quiet) terminal_hide_echo(input_fd);
    InputResult result = InputResult::END;
    for (;;) {
        if (interrupt_take()) {
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
        input_wait(input_fd, POLL_STEP_MS);
    }
    if (quiet) terminal_show_echo();
    --waiting_questions;
    return result;
}

bool console_take_cancel_request() {
    input_told = false;
    if (waiting_questions.load() > 0) return false;
    if (interrupt_take()) return true;
    std::lock_guard<std::mutex> lock(input_mutex);
    fill_without_waiting();
    std::size_t end = buffered.find('\n');
    if (end == std::string::npos && !input_ended) return false;
    if (end == std::string::npos) end = buffered.size();
    if (!is_cancel_word(buffered.substr(0, end))) return false;
    buffered.erase(0, end < buffered.size() ? end + 1 : end);
    return true;
}
