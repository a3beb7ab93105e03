// The terminal behind the console: whether a descriptor or a stream is one, and its echo, which a
// password question turns off and every way out of the program turns back on.
#pragma once
#include <cstdio>

bool terminal_is(int fd);
// False for nullptr.
bool terminal_stream_is(std::FILE* stream);
// Saves the settings of the terminal on fd, then keeps it from showing what is typed; nothing
// changes when they cannot be read (fd is no terminal).
void terminal_hide_echo(int fd);
// Puts the saved settings back and forgets them; nothing when none are saved.
void terminal_show_echo();
// Puts the saved settings back, if any, and keeps them: for the ends of the program (the exit
// hook, a second Ctrl-C). Safe in a signal handler.
void terminal_put_back();
