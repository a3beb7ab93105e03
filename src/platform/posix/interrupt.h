// Ctrl-C for the console front end: the first press is held for the console to take as Cancel; a
// second one before that ends the program at once, as Ctrl-C ordinarily does, with the terminal
// put back first.
#pragma once

// Installs the handler and makes the pipe a press writes into; call once.
void interrupt_catch();
// True once for each press held; empties the pipe.
bool interrupt_take();
// Readable while a press is held, so that a wait on it ends even when the press comes just before
// the wait begins; -1 when no pipe could be made.
int interrupt_wake_descriptor();
