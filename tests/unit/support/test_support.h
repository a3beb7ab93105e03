// Helpers the unit tests share: counting a text's occurrences, and keeping the trace.
#pragma once
#include <string>

// How many times part occurs in text, overlapping occurrences included.
int occurrences(const std::string& text, const std::string& part);

// From keep_trace() to stop_keeping_trace() every trace line is appended to kept_trace();
// keep_trace() drops what was kept before.
void keep_trace();
void stop_keeping_trace();
const std::string& kept_trace();
void clear_kept_trace();
