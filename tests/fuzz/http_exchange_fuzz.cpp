// Fuzz target: whole HTTP exchanges (http_get) over a scripted connection: the device's answer,
// in pieces, is the input. A challenge is answered once more with a password set, as the request
// runner does, so the Authorization line goes out with whatever challenge was taken.
//
// Input: a flags byte (bit 0: a password is already known; bit 1: a buffer of 2048 bytes instead of
// the full response buffer), a piece-size byte, then the answer.
#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "app/device_http.h"
#include "core/upgrade_state.h"
#include "fuzz_support.h"
#include "scripted_net.h"

namespace {

constexpr char PATH[] = "/admin/advanced";
// Room for the longest request, yet short enough for answers to run past it.
constexpr std::int32_t SMALL_LIMIT = 2047;

void script_answer(const std::uint8_t* answer, std::size_t size, std::size_t piece_size) {
    ScriptedNet& net = scripted_net();
    net.stream_pieces.clear();
    net.stream_sent.clear();
    for (std::size_t at = 0; at < size; at += piece_size) {
        std::size_t length = size - at < piece_size ? size - at : piece_size;
        net.stream_pieces.emplace_back(answer + at, answer + at + length);
    }
}

void check_request(bool authorised) {
    const std::vector<std::uint8_t>& sent = scripted_net().stream_sent;
    std::string request(sent.begin(), sent.end());
    std::string start = std::string("GET ") + PATH + " HTTP/1.1\r\nHost: 192.168.2.110\r\n";
    fuzz_require(request.compare(0, start.size(), start) == 0, "the request line and the Host line come first");
    fuzz_require(request.size() >= 4 && request.compare(request.size() - 4, 4, "\r\n\r\n") == 0,
                 "the request ends with the empty line");
    bool has_authorization = request.find("\r\nAuthorization: Digest username=\"") == start.size() - 2;
    fuzz_require(has_authorization == authorised, "the Authorization line goes out exactly when a password is known");
}

// True when the answer can only end at the close: no header that gives its length or coding
// (searched anywhere, in any case) and no status that carries no body.
bool runs_to_the_close(const std::uint8_t* answer, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(answer), size);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text.find("content-length") != std::string::npos || text.find("transfer-encoding") != std::string::npos) {
        return false;
    }
    if (text.compare(0, 7, "http/1.") != 0) return true;
    std::size_t code = text.find_first_not_of(" \t", 9);
    return code == std::string::npos || (text.compare(code, 3, "204") != 0 && text.compare(code, 3, "304") != 0);
}

// Where the header block of the answer ends (after its empty line); the whole size without one.
std::size_t header_block_end(const std::uint8_t* answer, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(answer), size);
    std::size_t first = text.find('\n');
    if (first == std::string::npos) return size;
    for (std::size_t at = text.find('\n', first + 1); at != std::string::npos; at = text.find('\n', at + 1)) {
        std::size_t start = text.rfind('\n', at - 1) + 1;
        if (at == start || (at == start + 1 && text[start] == '\r')) return at + 1;
    }
    return size;
}

std::int32_t exchange(char* buffer, std::int32_t limit, const std::uint8_t* answer, std::size_t size,
                      std::size_t piece_size) {
    script_answer(answer, size, piece_size);
    bool authorised = upgrade_state.auth.password[0] != 0;
    std::uint32_t count_before = upgrade_state.auth.nonce_count;
    std::int32_t result = http_get(0x7F000001u, 23456, 0x7F000002u, 80, PATH, buffer, limit);
    check_request(authorised);
    fuzz_require(upgrade_state.auth.nonce_count == count_before + (authorised ? 1u : 0u) ||
                     upgrade_state.auth.nonce_count == 0,
                 "each authorised request counts once under its nonce");
    std::size_t received = size < static_cast<std::size_t>(limit) ? size : static_cast<std::size_t>(limit);
    if (result < 0) {
        fuzz_require(result == -1 && received > 0, "only a received challenge gives -1");
        return result;
    }
    fuzz_require(static_cast<std::size_t>(result) <= received, "the answer is never longer than what came");
    if (runs_to_the_close(answer, size)) {
        fuzz_require(static_cast<std::size_t>(result) == received, "without a length the answer runs to the close");
    }
    if (result > 0) {
        std::size_t head = header_block_end(answer, size);
        std::size_t same = head < static_cast<std::size_t>(result) ? head : static_cast<std::size_t>(result);
        fuzz_require(buffer[result] == 0 && std::memcmp(buffer, answer, same) == 0,
                     "the answer stands NUL-terminated at the start of the buffer, its header block unchanged");
    }
    return result;
}

// The same answer in one piece gives the same answer: the reading does not depend on how the
// bytes arrive.
void check_piece_independence(const char* buffer, std::int32_t result, std::int32_t limit,
                              const std::uint8_t* answer, std::size_t size) {
    DigestAuthState auth = upgrade_state.auth;
    DeviceInfo info = upgrade_state.device_info;
    std::unique_ptr<char[]> whole(new char[static_cast<std::size_t>(limit) + 1]);
    script_answer(answer, size, size + 1);
    std::int32_t again = http_get(0x7F000001u, 23456, 0x7F000002u, 80, PATH, whole.get(), limit);
    fuzz_require(again == result && (result <= 0 || std::memcmp(whole.get(), buffer, static_cast<std::size_t>(result)) == 0),
                 "an answer in pieces reads as the same answer in one piece");
    upgrade_state.auth = auth;
    upgrade_state.device_info = info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    bool password_known = (data[0] & 1) != 0;
    std::int32_t limit = (data[0] & 2) != 0 ? SMALL_LIMIT : RESPONSE_LIMIT;
    std::size_t piece_size = static_cast<std::size_t>(data[1]) * 97 + 1;
    const std::uint8_t* answer = data + 2;
    std::size_t answer_size = size - 2;

    fuzz_format_traces();
    scripted_net_reset();
    std::memset(&upgrade_state.auth, 0, sizeof upgrade_state.auth);
    std::memset(&upgrade_state.device_info, 0, sizeof upgrade_state.device_info);
    if (password_known) std::strcpy(upgrade_state.auth.password, "secret");
    // Exactly the buffer the limit needs, so a write past it is seen.
    std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(limit) + 1]);

    std::int32_t result = exchange(buffer.get(), limit, answer, answer_size, piece_size);
    if (result >= 0 && !password_known) check_piece_independence(buffer.get(), result, limit, answer, answer_size);
    if (result == -1) {
        std::strcpy(upgrade_state.auth.user_name, "admin");
        std::strcpy(upgrade_state.auth.password, "secret");
        exchange(buffer.get(), limit, answer, answer_size, piece_size);
    }
    for (const char* field : {upgrade_state.device_info.product_name, upgrade_state.device_info.mac_address,
                              upgrade_state.device_info.software_version, upgrade_state.device_info.hardware_version,
                              upgrade_state.device_info.serial_number}) {
        fuzz_require(std::strlen(field) <= SCRAPE_VALUE_MAX, "the status page values fit their fields");
    }
    return 0;
}
