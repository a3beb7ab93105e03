// What the status query's answer tells about the host at the typed address. A TEV's status page
// carries at least one of the five values; any other answer (a router's login page, another web
// server, bytes that are not HTTP) means the address is not a TEV's, and it gets no upgrade command.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/device_info.h"

constexpr std::size_t ANSWER_EXCERPT_BYTES = 200;
constexpr std::size_t ESCAPED_EXCERPT_SIZE = ANSWER_EXCERPT_BYTES * 4 + 1;  // \xNN for each byte

// True when the answer filled at least one of the five values.
bool carries_status_values(const DeviceInfo& info);

// The bytes as one line of printable text: printable ASCII as it is, every other byte and the
// backslash as \xNN. Only whole escapes are written; out always ends with a NUL.
void escape_bytes(const char* bytes, std::size_t length, char* out, std::size_t out_size);

// The log lines for an answer that is not a TEV's: the host, the answer's status line and its
// first ANSWER_EXCERPT_BYTES bytes, escaped, so that support sees what answered instead.
void trace_not_a_tev(const char* host, const char* answer, std::int32_t received);
