// Whether the status query was answered by a TEV, and what the log keeps when it was not.
#include "app/status_answer.h"

#include <cstdio>
#include <cstring>

#include "core/trace.h"
#include "web/http_client.h"
#include "web/http_headers.h"

namespace {

// The status line's code (three characters) and reason phrase, read as the exchange classifies
// it: "HTTP/1.0" or "HTTP/1.1", one character, blanks, the code. False for anything else.
struct StatusLine {
    const char* code;
    const char* reason;
    std::size_t reason_length;
};

bool read_status_line(const char* answer, std::int32_t received, StatusLine* line) {
    if (received < 12 || std::strncmp(answer, "HTTP/1.", 7) != 0 || (answer[7] != '0' && answer[7] != '1')) {
        return false;
    }
    const char* code = answer + 9;
    while (is_blank(*code)) ++code;
    for (int i = 0; i < 3; ++i) {
        if (code[i] < '0' || code[i] > '9') return false;
    }
    const char* reason = code + 3;
    while (is_blank(*reason)) ++reason;
    // Device text in a box: printable characters only, and not too many of them.
    std::size_t length = 0;
    while (length < REASON_SHOWN && reason[length] >= 0x20 && reason[length] < 0x7F) ++length;
    while (length > 0 && is_blank(reason[length - 1])) --length;
    *line = StatusLine{code, reason, length};
    return true;
}

bool has_challenge_header(const char* answer) {
    const char* lines = next_line(answer);
    return lines != nullptr && find_header(lines, "WWW-Authenticate") != nullptr;
}

// Every challenge header line of the answer, escaped, as the exchange received them.
void trace_challenge_headers(const char* answer) {
    for (const char* line = next_line(answer); line != nullptr && !ends_header_block(line);
         line = next_line(line)) {
        if (header_value(line, "WWW-Authenticate") == nullptr) continue;
        std::size_t length = std::strcspn(line, "\r\n");
        if (length > ANSWER_EXCERPT_BYTES) length = ANSWER_EXCERPT_BYTES;
        char escaped[ESCAPED_EXCERPT_SIZE];
        escape_bytes(line, length, escaped, sizeof escaped);
        trace("  challenge \"%s\"\n", escaped);
    }
}

}  // namespace

bool carries_status_values(const DeviceInfo& info) {
    return info.product_name[0] != 0 || info.mac_address[0] != 0 ||
           info.software_version[0] != 0 || info.hardware_version[0] != 0 ||
           info.serial_number[0] != 0;
}

bool answer_carries_status_values(const char* answer) {
    DeviceInfo found{};
    scrape_device_info(answer, &found);
    return carries_status_values(found);
}

void escape_bytes(const char* bytes, std::size_t length, char* out, std::size_t out_size) {
    if (out_size == 0) return;
    std::size_t used = 0;
    for (std::size_t i = 0; i < length; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        bool plain = byte >= 0x20 && byte < 0x7F && byte != '\\';
        std::size_t needed = plain ? 1 : 4;
        if (used + needed >= out_size) break;
        if (plain) {
            out[used] = static_cast<char>(byte);
        } else {
            std::snprintf(out + used, 5, "\\x%02X", byte);
        }
        used += needed;
    }
    out[used] = 0;
}

StatusVerdict judge_status_answer(const char* answer, std::int32_t received) {
    StatusLine line{};
    if (!read_status_line(answer, received, &line) || std::strncmp(line.code, "200", 3) == 0) {
        return StatusVerdict::NOT_A_TEV;
    }
    if (std::strncmp(line.code, "401", 3) == 0 && has_challenge_header(answer)) {
        return StatusVerdict::LOGIN_UNANSWERABLE;
    }
    return StatusVerdict::ERROR_STATUS;
}

void status_box_text(const char* answer, std::int32_t received, char* out, std::size_t size) {
    StatusLine line{};
    switch (judge_status_answer(answer, received)) {
        case StatusVerdict::NOT_A_TEV: std::snprintf(out, size, "%s", NOT_A_TEV_TEXT); return;
        case StatusVerdict::LOGIN_UNANSWERABLE: std::snprintf(out, size, "%s", LOGIN_UNANSWERABLE_TEXT); return;
        case StatusVerdict::ERROR_STATUS: break;
    }
    read_status_line(answer, received, &line);
    char status[4 + REASON_SHOWN + 1];
    std::snprintf(status, sizeof status, "%.3s%s%.*s", line.code, line.reason_length > 0 ? " " : "",
                  static_cast<int>(line.reason_length), line.reason);
    std::snprintf(out, size, ERROR_STATUS_FORMAT, status);
}

void trace_not_a_tev(const char* host, const char* answer, std::int32_t received) {
    if (!trace_enabled()) return;
    auto length = static_cast<std::size_t>(received > 0 ? received : 0);
    std::size_t excerpt = length < ANSWER_EXCERPT_BYTES ? length : ANSWER_EXCERPT_BYTES;
    std::size_t status_line = 0;
    while (status_line < excerpt && answer[status_line] != '\r' && answer[status_line] != '\n') {
        ++status_line;
    }
    char escaped[ESCAPED_EXCERPT_SIZE];
    switch (judge_status_answer(answer, received)) {
        case StatusVerdict::NOT_A_TEV:
            trace("The host at %s answered, but not as a TEV: its answer has none of the five status "
                  "values\n", host);
            break;
        case StatusVerdict::LOGIN_UNANSWERABLE:
            trace("The host at %s asks for a login this program cannot answer: no Digest challenge "
                  "with MD5, MD5-sess, SHA-256 or SHA-256-sess\n", host);
            break;
        case StatusVerdict::ERROR_STATUS:
            trace("The host at %s answered with an error status and none of the five status values\n",
                  host);
            break;
    }
    escape_bytes(answer, status_line, escaped, sizeof escaped);
    trace("  status line \"%s\"\n", escaped);
    trace_challenge_headers(answer);
    escape_bytes(answer, excerpt, escaped, sizeof escaped);
    trace("  first %u bytes of the answer: \"%s\"\n", static_cast<unsigned>(excerpt), escaped);
}
