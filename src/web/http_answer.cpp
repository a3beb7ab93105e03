// Where an HTTP answer ends: Content-Length, chunked transfer coding, or the close.
#include "web/http_answer.h"

#include <cstring>

namespace {

constexpr std::uint64_t LENGTH_CAP = 0xFFFFFFFFull;  // beyond any buffer; longer counts as this

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A Content-Length value: decimal digits and nothing else on the line but blanks.
bool read_content_length(const char* value, std::uint64_t* length) {
    std::uint64_t number = 0;
    int digits = 0;
    for (; *value >= '0' && *value <= '9'; ++value, ++digits) {
        number = number * 10 + static_cast<std::uint64_t>(*value - '0');
        if (number > LENGTH_CAP) number = LENGTH_CAP;
    }
    while (is_blank(*value) || *value == '\r') ++value;
    if (digits == 0 || (*value != '\n' && *value != 0)) return false;
    *length = number;
    return true;
}

// True when the last transfer coding of the value is "chunked", in any case.
bool last_coding_is_chunked(const char* value) {
    const char* line_end = value + std::strcspn(value, "\r\n");
    const char* last = line_end;
    while (last > value && is_blank(last[-1])) --last;
    const char* first = last;
    while (first > value && first[-1] != ',' && !is_blank(first[-1])) --first;
    return span_equals_ignoring_case(first, static_cast<std::size_t>(last - first), "chunked");
}

// Status 204 and 304 carry no body whatever their headers say. The code is read as the status
// is classified: after the version, the one character after it, and any blanks.
bool status_without_body(const char* text) {
    if (std::strncmp(text, "HTTP/1.", 7) != 0 || text[7] == 0 || text[8] == 0) return false;
    const char* code = text + 9;
    while (is_blank(*code)) ++code;
    return std::strncmp(code, "204", 3) == 0 || std::strncmp(code, "304", 3) == 0;
}

// One line of the undecoded bytes from at: where it ends (after its LF), or nullptr while the
// LF has not arrived.
const char* line_after(const char* at, const char* end) {
    const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    return lf == nullptr ? nullptr : static_cast<const char*>(lf) + 1;
}

// The size of the chunk whose size line starts at line (hexadecimal, extensions after ';'
// ignored); false when it starts with no hexadecimal digit.
bool read_chunk_size(const char* line, std::uint64_t* size) {
    std::uint64_t number = 0;
    int digits = 0;
    for (int digit; (digit = hex_digit(*line)) >= 0; ++line, ++digits) {
        number = number * 16 + static_cast<std::uint64_t>(digit);
        if (number > LENGTH_CAP) number = LENGTH_CAP;
    }
    *size = number;
    return digits > 0;
}

// Decodes the chunked bytes after the answer so far, moving chunk data down over the size lines;
// what cannot be decoded yet (a line not whole) stays right after the decoded body.
void decode_chunks(AnswerReader* reader) {
    char* in = reader->buffer + reader->length;
    char* out = in;
    char* end = reader->buffer + reader->received;
    while (in < end && reader->chunk_part != ChunkPart::DONE) {
        if (reader->chunk_part == ChunkPart::DATA) {
            std::uint64_t available = static_cast<std::uint64_t>(end - in);
            std::size_t count = static_cast<std::size_t>(
                reader->chunk_left < available ? reader->chunk_left : available);
            std::memmove(out, in, count);
            out += count;
            in += count;
            reader->chunk_left -= count;
            if (reader->chunk_left == 0) reader->chunk_part = ChunkPart::DATA_END;
            continue;
        }
        const char* next = line_after(in, end);
        if (next == nullptr) break;
        if (reader->chunk_part == ChunkPart::SIZE_LINE) {
            std::uint64_t size = 0;
            // A size line that is not one ends the answer as the last chunk would.
            bool valid = read_chunk_size(in, &size);
            reader->chunk_part = !valid || size == 0 ? ChunkPart::DONE : ChunkPart::DATA;
            reader->chunk_left = size;
        } else {
            reader->chunk_part = ChunkPart::SIZE_LINE;  // the line end after a chunk's data
        }
        in = const_cast<char*>(next);
    }
    std::size_t pending = static_cast<std::size_t>(end - in);
    std::memmove(out, in, pending);
    reader->length = static_cast<std::int32_t>(out - reader->buffer);
    reader->received = reader->length + static_cast<std::int32_t>(pending);
}

}  // namespace

AnswerEnd answer_framing(const char* text, std::uint64_t* body_length) {
    *body_length = 0;
    if (status_without_body(text)) return AnswerEnd::AT_LENGTH;
    const char* lines = next_line(text);
    if (lines == nullptr) return AnswerEnd::AT_CLOSE;
    // A transfer coding overrides any length; one that is not chunked runs to the close.
    const char* coding = find_header(lines, "Transfer-Encoding");
    if (coding != nullptr) return last_coding_is_chunked(coding) ? AnswerEnd::AT_LAST_CHUNK : AnswerEnd::AT_CLOSE;
    const char* length = find_header(lines, "Content-Length");
    if (length != nullptr && read_content_length(length, body_length)) return AnswerEnd::AT_LENGTH;
    return AnswerEnd::AT_CLOSE;
}

void answer_begin(AnswerReader* reader, char* buffer) {
    std::memset(reader, 0, sizeof *reader);
    reader->buffer = buffer;
    reader->end = AnswerEnd::UNKNOWN_YET;
}

void answer_take(AnswerReader* reader, std::int32_t count) {
    reader->received += count;
    if (reader->end == AnswerEnd::UNKNOWN_YET) {
        std::size_t header_end = find_header_end(reader->buffer, static_cast<std::size_t>(reader->received),
                                                 &reader->header_search);
        if (header_end == 0) {
            reader->length = reader->received;
            return;
        }
        reader->header_length = static_cast<std::int32_t>(header_end);
        reader->length = reader->header_length;
        // The block is followed by the body's bytes: look at it as a text of its own.
        char after = reader->buffer[header_end];
        reader->buffer[header_end] = 0;
        reader->end = answer_framing(reader->buffer, &reader->body_length);
        reader->buffer[header_end] = after;
    }
    if (reader->end == AnswerEnd::AT_LAST_CHUNK) {
        decode_chunks(reader);
        return;
    }
    reader->length = reader->received;
    if (reader->end == AnswerEnd::AT_LENGTH) {
        std::uint64_t whole = static_cast<std::uint64_t>(reader->header_length) + reader->body_length;
        if (static_cast<std::uint64_t>(reader->received) >= whole) {
            reader->length = static_cast<std::int32_t>(whole);
        }
    }
}

bool answer_complete(const AnswerReader* reader) {
    switch (reader->end) {
        case AnswerEnd::AT_LENGTH:
            return static_cast<std::uint64_t>(reader->length) >=
                   static_cast<std::uint64_t>(reader->header_length) + reader->body_length;
        case AnswerEnd::AT_LAST_CHUNK: return reader->chunk_part == ChunkPart::DONE;
        case AnswerEnd::UNKNOWN_YET:
        case AnswerEnd::AT_CLOSE: break;
    }
    return false;
}
