// Ending the process with an exit status, from whichever thread.
#pragma once

[[noreturn]] void process_exit(int status);

// A front end may register one function to run first (the console restores the terminal).
using ExitHook = void (*)();
void process_set_exit_hook(ExitHook hook);
