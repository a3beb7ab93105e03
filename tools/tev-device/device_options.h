// The device's command line: who it pretends to be, how it authenticates, how it upgrades, and
// the faults a test can switch on.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class Markup { PLAIN, BOLD, FONT, BOLD_FONT };
// How the device computes H(A1) for md5-sess: over the 16 raw bytes of the first hash (as the
// upgrader sends it), over its 32 hexadecimal characters (RFC 2617, as curl sends it), or either.
enum class SessForm { RAW, HEX, EITHER };
enum class CaseChange { NONE, UPPER, LOWER, SWAP };
// Whether a connection stays open after its answer, and how the answer's end is then told.
enum class KeepAlive { NO, LENGTH, CHUNKED, NO_LENGTH };
enum class HeaderCase { AS_WRITTEN, LOWER, CANONICAL };
enum class BasicFirst { NO, OWN_LINE, SAME_LINE };

struct DeviceOptions {
    // Network: the device binds and talks only from `address`.
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 80;
    std::vector<std::uint32_t> allowed_peers;  // TFTP servers beyond the loopback network
    std::uint32_t tftp_source = 0;  // where the read request leaves from; 0: `address`

    // Identity shown on the status page.
    bool handset = false;
    std::string product_name, mac_address, serial_number, software_version, hardware_version;
    Markup markup = Markup::BOLD;

    // Digest authentication, on when a user is given.
    bool auth = false;
    std::string user, password, realm = "TEV", qop = "auth", algorithm = "MD5", opaque, first_nonce;
    bool algorithm_unquoted = false;
    // --challenges: the challenges of one 401 answer, one header line each, in this order: an
    // algorithm as written, "none" for a Digest challenge without one, or "Basic". Empty: one
    // Digest challenge with `algorithm`.
    std::vector<std::string> challenges;
    unsigned nonce_uses = 0;           // 0: no limit
    std::int64_t nonce_lifetime_ms = 0;  // 0: no limit
    SessForm sess_form = SessForm::RAW;
    bool refuse_reused_cnonce = false;  // a client nonce brought to a second server nonce: refused

    // Upgrade.
    std::int64_t flash_ms = 20000;
    std::string image_file = "tev-device-image.bin";
    std::string log_file = "tev-device.log";
    std::int64_t tftp_timeout_ms = 5000;
    bool tftp_no_options = false;  // a plain RFC 1350 read request, which an OACK would puzzle
    int tftp_retries = 5;
    bool exit_after_upgrade = false;
    bool quiet = false;
    bool brief_log = false;  // no line per packet or connection: many devices on one machine

    // Faults.
    std::uint32_t seed = 1;
    double drop_data = 0, drop_ack = 0, duplicate_ack = 0, ack_other_port = 0, error_instead_of_ack = 0;
    double late_ack = 0;
    bool never_ack_oack = false, never_return = false;
    bool never_answer = false;  // fault: each request is read and left unanswered, its connection held
    KeepAlive keep_alive = KeepAlive::NO;
    bool hold_forever = false;  // fault: no length, and held whatever the client asks
    std::int64_t idle_timeout_ms = 0;  // a kept connection closed after this silence; 0: never
    HeaderCase header_case = HeaderCase::AS_WRITTEN;
    bool http10 = false;
    BasicFirst basic_first = BasicFirst::NO;
    bool report_version_set = false;
    std::string report_version;
    CaseChange report_version_case = CaseChange::NONE;
    std::int64_t web_delay_ms = 0;
    std::int64_t tftp_delay_ms = 0;  // between the upgrade order and the read request
    std::string request_name;  // when set, the file name asked for instead of the ordered one
    std::uint32_t pause_after_block = 0;  // 0: no pause
    std::int64_t pause_ms = 0;            // silence after acknowledging that block
    std::uint32_t quit_first_transfer_after = 0;  // 0: never; the first transfer's last block
    bool drop_last_ack = false, ignore_repeated_last_block = false;
    std::uint32_t ack_ahead_block = 0;  // 0: none; the block --ack-ahead answers with a later ACK
    std::size_t page_padding = 0;  // bytes of comment after the status page's table
};

// How far ahead --ack-ahead acknowledges: DATA N is answered with ACK N + ACK_AHEAD_BLOCKS.
constexpr std::uint32_t ACK_AHEAD_BLOCKS = 4;

enum class ParseResult { RUN, HELP, BAD };

// Fills `options` from the command line; on BAD a message has gone to standard error.
ParseResult parse_options(int argc, char** argv, DeviceOptions* options);
void print_help();
// "A.B.C.D" to a host-order address; false unless four decimal parts of 0 to 255.
bool parse_ipv4(const char* text, std::uint32_t* address);
// The address the TFTP client sends from: --tftp-source, or else --address.
std::uint32_t tftp_client_address(const DeviceOptions& options);
std::string ipv4_text(std::uint32_t address);
