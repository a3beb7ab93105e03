// Typed lines for the console front end: blocking reads for questions, a non-blocking look for
// "cancel" while a modeless dialog runs, Ctrl-C, and the terminal's echo for passwords.
#pragma once
#include <string>

enum class InputResult { LINE, END, INTERRUPTED };

// Reads standard input unless a test gives another descriptor (also resets what was buffered).
void console_input_use(int fd);
bool console_input_is_terminal();
// Installs the Ctrl-C handler and the exit hook that restores the terminal; once is enough.
void console_input_prepare();
// Waits for one line (without its line break; a CR before it is dropped too). END at the end of
// input, INTERRUPTED after Ctrl-C. With hide_echo the terminal does not show what is typed.
InputResult console_read_line(std::string* line, bool hide_echo);
// Never blocks: true when Ctrl-C was pressed or the next typed line is "cancel" (then taken).
// Any other line stays for the next question; nothing is taken while a question waits.
bool console_take_cancel_request();
// What a wait for a datagram also wakes for, so that Cancel answers at once: the pipe that
// Ctrl-C writes into, and the input itself while it can bring a line and no question waits for
// one (then a look for "cancel" reads what came). Fills descriptors, returns how many (at most 2).
int console_input_wake_descriptors(int* descriptors);
// The wait tells that one of them ended it; until the next look for "cancel" or a line, none is
// given again.
void console_input_told();
// Puts the terminal back as the program found it.
void console_input_restore_terminal();
