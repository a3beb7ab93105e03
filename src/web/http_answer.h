// Where an HTTP answer ends as it arrives: after its Content-Length, at its last chunk (the body
// kept without the chunk-size lines), or, with neither, when the server closes the connection.
#pragma once
#include <cstddef>
#include <cstdint>

#include "web/http_headers.h"

enum class AnswerEnd { UNKNOWN_YET, AT_CLOSE, AT_LENGTH, AT_LAST_CHUNK };
enum class ChunkPart { SIZE_LINE, DATA, DATA_END, DONE };

// The answer in a buffer as its pieces arrive. The buffer holds the header block, the body as far
// as it is decoded, and right after it the received bytes not decoded yet.
struct AnswerReader {
    char* buffer;
    std::int32_t received;       // bytes in the buffer, undecoded ones included
    std::int32_t length;         // the answer so far: header block and body
    std::int32_t header_length;  // 0 until the empty line after the headers has arrived
    HeaderEndSearch header_search;
    AnswerEnd end;
    std::uint64_t body_length;   // AT_LENGTH: the Content-Length
    ChunkPart chunk_part;        // AT_LAST_CHUNK: what the next bytes are
    std::uint64_t chunk_left;    // AT_LAST_CHUNK: data bytes still to come in this chunk
};

void answer_begin(AnswerReader* reader, char* buffer);
// Takes count more bytes, just received at buffer + reader->received.
void answer_take(AnswerReader* reader, std::int32_t count);
// True once the answer's own length or last chunk says it is whole.
bool answer_complete(const AnswerReader* reader);

// How the answer whose header block is at text says it ends (text holds the block whole).
AnswerEnd answer_framing(const char* text, std::uint64_t* body_length);
