// Replacing a file whole: a reader sees the old file or the new one, never a part.
#pragma once
#include <string>

// Writes text to a file beside path, flushes it to the disk, and renames it over path. False
// with *problem ("can't write PATH: reason").
bool file_replace(const std::string& path, const std::string& text, std::string* problem);
