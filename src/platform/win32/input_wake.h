// Between the socket wait and the dialog pump of one thread on Windows: the wait notes that input
// for the thread's windows ended it, so that the next pump looks at the message queue at once.
#pragma once

void input_wake_note();
// True once after each note.
bool input_wake_take();
