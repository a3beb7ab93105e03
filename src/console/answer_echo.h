// Echo: what the console writes back of the answers it takes, so that a transcript of a scripted
// run reads like a session at a terminal.
#pragma once
#include <string>

#include "console/console_input.h"
#include "console/dialog_model.h"

// After a question: the line a script typed (a password as nothing), or the line break a
// terminal did not show; at the end of input or Ctrl-C a line break.
void echo_typed_answer(InputResult result, const std::string& answer, bool hidden);
// The answers' turn at a modal dialog, as the questions and their typed answers would read: each
// field's value (a password as nothing), then the buttons and the one pressed (command).
void echo_given_answers(ModelDialog& dialog, int command);
// A cancel taken from a script's lines while a modeless dialog runs.
void echo_typed_cancel();
