// Typed lines for the console front end: blocking reads for questions, a non-blocking look for
// "cancel" while a modeless dialog runs, Ctrl-C, and the terminal's echo for passwords.
#pragma once
#include <string>

enum class InputResult { LINE, END, INTERRUPTED };

// Reads standard input unless a test gives another descriptor (also resets what was buffered).
void console_input_use(int fd);
bool console_input_is_terminal();
// Installs the Ctrl-C handler and the exit hook that restores the terminal, and has a wait for the
// device's datagrams wake for typed input and Ctrl-C as well; once is enough.
void console_input_prepare();
// Waits for one line (without its line break; a CR before it is dropped too). END at the end of
// input, INTERRUPTED after Ctrl-C. With hide_echo the terminal does not show what is typed.
InputResult console_read_line(std::string* line, bool hide_echo);
// Never blocks: true when Ctrl-C was pressed or the next typed line is "cancel" (then taken).
// Any other line stays for the next question; nothing is taken while a question waits.
bool console_take_cancel_request();
// Puts the terminal back as the program found it.
void console_input_restore_terminal();
