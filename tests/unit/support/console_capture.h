// Feeds the console front end typed lines and collects what it prints, for the duration of a test.
#pragma once
#include <cstdio>
#include <string>

class ConsoleCapture {
public:
    // The lines typed; with keep_open the input stays open for more (no end of input yet).
    explicit ConsoleCapture(const std::string& typed, bool keep_open = false);
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    void type(const std::string& more);
    void end_input();
    std::string printed();

private:
    int read_end_ = -1;
    int write_end_ = -1;
    std::FILE* out_ = nullptr;
};
