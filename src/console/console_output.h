// Where the console front end prints: standard output, a test's stream, or nothing at all
// (headless). One writer at a time; a progress bar redrawn in place keeps its line open until
// something else is printed.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>

// Prints to standard output unless a test gives another stream; nullptr runs headless: the
// dialogs work (and take "cancel" and Ctrl-C) but nothing is printed.
void console_output_use(std::FILE* out);

// The output, held for one piece of printing.
class HeldOutput {
public:
    HeldOutput();
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;

    // nullptr when the console runs headless: nothing is printed then.
    std::FILE* stream() const { return stream_; }
    bool is_terminal() const;
    // Breaks the line a redrawn bar left open, before anything else is printed.
    void end_bar_line();
    // A bar was just drawn in place: its line stays open.
    void bar_drawn();

private:
    std::lock_guard<std::mutex> lock_;
    std::FILE* stream_;
};

// Prints the text as it stands, on a line of its own after an open bar's line, and flushes.
void console_say(const std::string& text);
