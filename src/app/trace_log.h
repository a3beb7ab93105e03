// The support log: every trace line goes to a file the user names, stamped with the milliseconds
// since the log was opened and the thread that wrote it, and written out at once, so that a
// cancelled, failed or killed upgrade keeps every line before its end.
#pragma once
#include <cstddef>
#include <string>

// Creates (or empties) the file at path and routes the trace to it. False when the file cannot be
// created; reason then holds the system's words for why.
bool trace_log_open(const char* path, char* reason, std::size_t reason_size);
// Stops the trace and closes the file. The program keeps its log until it ends; tests close it.
void trace_log_close();

// The log lines of one trace call as they are written: the text cut at each line feed (a call
// that does not end its line ends it all the same), a carriage return before the feed dropped,
// other control characters written as \xNN, each line after the prefix. A call that is only a
// line feed writes nothing.
std::string format_log_lines(const char* prefix, const char* text, std::size_t length);
