// Ending the process: every end of the upgrader gives exit status 0, from whichever thread.
#pragma once

[[noreturn]] void process_exit_ok();

// A front end may register one function to run first (the console restores the terminal).
using ExitHook = void (*)();
void process_set_exit_hook(ExitHook hook);
