// What the status query's answer tells about the host at the typed address. A TEV's status page
// carries at least one of the five values; any other answer gets no upgrade command, and the box
// says what came instead: a login this program cannot answer (a 401 whose challenges it cannot
// take), an error status, or, for a page with status 200 or bytes that are not HTTP (a router's
// login page, another web server), that the address is not a TEV's.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/device_info.h"

constexpr std::size_t ANSWER_EXCERPT_BYTES = 200;
// The box texts; an error status is shown with its code and reason phrase.
constexpr const char* NOT_A_TEV_TEXT = "Upgrade Failed: The Address Answered, But Not As A TEV";
constexpr const char* LOGIN_UNANSWERABLE_TEXT =
    "Upgrade Failed: The TEV Asks For A Login This Program Cannot Answer";
constexpr const char* ERROR_STATUS_FORMAT = "Upgrade Failed: The TEV Answered %s";
// The box text with the longest reason phrase shown (REASON_SHOWN characters).
constexpr std::size_t REASON_SHOWN = 40;
constexpr std::size_t STATUS_BOX_TEXT_SIZE = 96;

enum class StatusVerdict { NOT_A_TEV, LOGIN_UNANSWERABLE, ERROR_STATUS };
// For an answer without any of the five values: 401 with a WWW-Authenticate header (the exchange
// took none of its challenges) is a login this program cannot answer; any status but 200 is an
// error status; a 200, or no HTTP/1.0 or 1.1 status line at all, is not a TEV.
StatusVerdict judge_status_answer(const char* answer, std::int32_t received);
// The box text for that answer, at most size bytes with the NUL.
void status_box_text(const char* answer, std::int32_t received, char* out, std::size_t size);
constexpr std::size_t ESCAPED_EXCERPT_SIZE = ANSWER_EXCERPT_BYTES * 4 + 1;  // \xNN for each byte

// True when the answer filled at least one of the five values.
bool carries_status_values(const DeviceInfo& info);
// True when the NUL-terminated answer itself holds at least one of the five values, whatever the
// device values kept from earlier answers hold.
bool answer_carries_status_values(const char* answer);

// The bytes as one line of printable text: printable ASCII as it is, every other byte and the
// backslash as \xNN. Only whole escapes are written; out always ends with a NUL.
void escape_bytes(const char* bytes, std::size_t length, char* out, std::size_t out_size);

// The log lines for an answer without the values: the host and the verdict, the answer's status
// line, its challenge headers, and its first ANSWER_EXCERPT_BYTES bytes, escaped, so that support
// sees what answered instead.
void trace_not_a_tev(const char* host, const char* answer, std::int32_t received);
