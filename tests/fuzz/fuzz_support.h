// Shared by the fuzz targets: inputs as exact-size texts, so that the address sanitizer sees every
// read past their end, property checks, and traces that are formatted rather than dropped.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// The bytes as a NUL-terminated text in a heap block of exactly size + 1 bytes.
std::unique_ptr<char[]> fuzz_text(const std::uint8_t* data, std::size_t size);

// Stops the target with a message when a property of the code under test does not hold.
void fuzz_require(bool holds, const char* what);

// Installs a trace sink that formats every trace, so that a bad argument (a text without its
// NUL, say) shows up as a sanitizer report instead of being discarded unread.
void fuzz_format_traces();
