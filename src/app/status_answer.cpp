// Whether the status query was answered by a TEV, and what the log keeps when it was not.
#include "app/status_answer.h"

#include <cstdio>
#include <cstring>

#include "core/trace.h"

bool carries_status_values(const DeviceInfo& info) {
    return info.product_name[0] != 0 || info.mac_address[0] != 0 ||
           info.software_version[0] != 0 || info.hardware_version[0] != 0 ||
           info.serial_number[0] != 0;
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

void trace_not_a_tev(const char* host, const char* answer, std::int32_t received) {
    if (!trace_enabled()) return;
    auto length = static_cast<std::size_t>(received > 0 ? received : 0);
    std::size_t excerpt = length < ANSWER_EXCERPT_BYTES ? length : ANSWER_EXCERPT_BYTES;
    std::size_t status_line = 0;
    while (status_line < excerpt && answer[status_line] != '\r' && answer[status_line] != '\n') {
        ++status_line;
    }
    char escaped[ESCAPED_EXCERPT_SIZE];
    trace("The host at %s answered, but not as a TEV: its answer has none of the five status "
          "values\n", host);
    escape_bytes(answer, status_line, escaped, sizeof escaped);
    trace("  status line \"%s\"\n", escaped);
    escape_bytes(answer, excerpt, escaped, sizeof escaped);
    trace("  first %u bytes of the answer: \"%s\"\n", static_cast<unsigned>(excerpt), escaped);
}
