// The Windows program as a child of its own list window's run over several devices: it shows no
// window at all (its dialogs run hidden, answered by the options; its boxes are not shown) and it
// presses Cancel, wherever the run is, when its standard input ends (the parent's cancel).
#pragma once

// Starts both for the rest of the run; call before the first dialog.
void hidden_run_start();
// Only the first half: no window is shown (the dialogs' own part of it).
void dialogs_hide_all();
