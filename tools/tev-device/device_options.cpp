// Parsing and help of the device's command line, from one table of options.
#include "device_options.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// Model-dependent values, filled from the model after parsing unless given.
struct Pending {
    std::optional<std::string> product_name, software_version, hardware_version;
    std::optional<Markup> markup;
    bool address_given = false;
};

using Setter = bool (*)(DeviceOptions&, Pending&, const char* value);

struct OptionRow {
    const char* name;
    const char* argument;  // null for a flag
    const char* help;
    Setter set;
};

bool parse_seconds(const char* text, std::int64_t* ms) {
    char* end = nullptr;
    double seconds = std::strtod(text, &end);
    if (end == text || *end != 0 || !(seconds >= 0) || seconds > 86400.0 * 365) return false;
    *ms = static_cast<std::int64_t>(std::llround(seconds * 1000.0));
    return true;
}

bool parse_unsigned(const char* text, unsigned long max, unsigned long* value) {
    if (!std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    *value = std::strtoul(text, &end, 10);
    return *end == 0 && *value <= max;
}

bool parse_rate(const char* text, double* rate) {
    char* end = nullptr;
    *rate = std::strtod(text, &end);
    return end != text && *end == 0 && *rate >= 0.0 && *rate <= 1.0;
}

// Texts that go inside a quoted header value: printable, no quote and no backslash.
bool quotable(const char* text) {
    for (const char* c = text; *c != 0; ++c) {
        if (*c < 0x20 || *c > 0x7e || *c == '"' || *c == '\\') return false;
    }
    return true;
}

bool equals_ignoring_case(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// "none", "auth", "auth-int" or a comma-separated list of the last two.
bool valid_qop(const char* text) {
    if (std::strcmp(text, "none") == 0) return true;
    std::string list = text;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item != "auth" && item != "auth-int") return false;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool set_markup(Pending& pending, const char* value) {
    if (std::strcmp(value, "plain") == 0) pending.markup = Markup::PLAIN;
    else if (std::strcmp(value, "bold") == 0) pending.markup = Markup::BOLD;
    else if (std::strcmp(value, "font") == 0) pending.markup = Markup::FONT;
    else if (std::strcmp(value, "bold-font") == 0) pending.markup = Markup::BOLD_FONT;
    else return false;
    return true;
}

bool set_case(DeviceOptions& o, const char* value) {
    if (std::strcmp(value, "upper") == 0) o.report_version_case = CaseChange::UPPER;
    else if (std::strcmp(value, "lower") == 0) o.report_version_case = CaseChange::LOWER;
    else if (std::strcmp(value, "swap") == 0) o.report_version_case = CaseChange::SWAP;
    else return false;
    return true;
}

bool set_sess_form(DeviceOptions& o, const char* value) {
    if (std::strcmp(value, "raw") == 0) o.sess_form = SessForm::RAW;
    else if (std::strcmp(value, "hex") == 0) o.sess_form = SessForm::HEX;
    else if (std::strcmp(value, "either") == 0) o.sess_form = SessForm::EITHER;
    else return false;
    return true;
}

bool set_algorithm(DeviceOptions& o, const char* value) {
    if (std::strcmp(value, "none") == 0) {
        o.algorithm.clear();
        return true;
    }
    o.algorithm = value;  // written into the challenge as given, letter case included
    for (const char* known : {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"}) {
        if (equals_ignoring_case(value, known)) return true;
    }
    return false;
}

// A comma-separated list of algorithm names (any token: the device challenges with names it
// cannot check, to see a client pass them over), "none" and "Basic".
bool set_challenges(DeviceOptions& o, const char* value) {
    o.challenges.clear();
    std::string list = value;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string item = list.substr(start, comma - start);
        if (item.empty()) return false;
        for (char c : item) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
        }
        o.challenges.push_back(item);
        start = comma + 1;
    }
    return true;
}

bool set_rate(double* rate, const char* value) { return parse_rate(value, rate); }

bool set_keep_alive(DeviceOptions& o, const char* value) {
    if (std::strcmp(value, "length") == 0) o.keep_alive = KeepAlive::LENGTH;
    else if (std::strcmp(value, "chunked") == 0) o.keep_alive = KeepAlive::CHUNKED;
    else if (std::strcmp(value, "no-length") == 0) o.keep_alive = KeepAlive::NO_LENGTH;
    else return false;
    return true;
}

bool set_header_case(DeviceOptions& o, const char* value) {
    if (std::strcmp(value, "lower") == 0) o.header_case = HeaderCase::LOWER;
    else if (std::strcmp(value, "canonical") == 0) o.header_case = HeaderCase::CANONICAL;
    else return false;
    return true;
}

bool set_basic_first(DeviceOptions& o, const char* value) {
    if (std::strcmp(value, "own-line") == 0) o.basic_first = BasicFirst::OWN_LINE;
    else if (std::strcmp(value, "same-line") == 0) o.basic_first = BasicFirst::SAME_LINE;
    else return false;
    return true;
}

const OptionRow OPTIONS[] = {
    {"--address", "A.B.C.D", "IPv4 address of the web server and the TFTP client (required)",
     [](DeviceOptions& o, Pending& p, const char* v) { p.address_given = true; return parse_ipv4(v, &o.address) && o.address != 0; }},
    {"--port", "N", "TCP port of the web server (default 80)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 65535, &n) || n == 0) return false;
         o.port = static_cast<std::uint16_t>(n);
         return true;
     }},
    {"--allow-peer", "A.B.C.D", "also fetch images from this TFTP server (loopback is always allowed; repeatable)",
     [](DeviceOptions& o, Pending&, const char* v) {
         std::uint32_t a = 0;
         if (!parse_ipv4(v, &a)) return false;
         o.allowed_peers.push_back(a);
         return true;
     }},
    {"--tftp-source", "A.B.C.D", "send the TFTP read request (and the whole transfer) from this address of the device (default --address)",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_ipv4(v, &o.tftp_source) && o.tftp_source != 0; }},
    {"--model", "adapter|handset", "the model simulated; sets the defaults below (default adapter)",
     [](DeviceOptions& o, Pending&, const char* v) {
         o.handset = std::strcmp(v, "handset") == 0;
         return o.handset || std::strcmp(v, "adapter") == 0;
     }},
    {"--product-name", "TEXT", "\"Product Name:\" (default TEV-4400, handset TEV-610)",
     [](DeviceOptions&, Pending& p, const char* v) { p.product_name = v; return true; }},
    {"--mac", "TEXT", "\"MAC Address:\" (default 00:1B:5A:12:34:56)",
     [](DeviceOptions& o, Pending&, const char* v) { o.mac_address = v; return true; }},
    {"--serial", "TEXT", "\"Serial Number:\" (default TV12345678)",
     [](DeviceOptions& o, Pending&, const char* v) { o.serial_number = v; return true; }},
    {"--software-version", "TEXT", "\"Software Version:\" before any upgrade (default 3.1.8(a), handset 1.4.2)",
     [](DeviceOptions&, Pending& p, const char* v) { p.software_version = v; return true; }},
    {"--hardware-version", "TEXT", "\"Hardware Version:\" (default Rev. B, handset HS-2)",
     [](DeviceOptions&, Pending& p, const char* v) { p.hardware_version = v; return true; }},
    {"--markup", "plain|bold|font|bold-font", "tags around each value (default bold, handset font)",
     [](DeviceOptions&, Pending& p, const char* v) { return set_markup(p, v); }},
    {"--user", "NAME", "require digest authentication with this user name",
     [](DeviceOptions& o, Pending&, const char* v) { o.auth = true; o.user = v; return quotable(v); }},
    {"--password", "TEXT", "the password of --user (default empty)",
     [](DeviceOptions& o, Pending&, const char* v) { o.password = v; return true; }},
    {"--realm", "TEXT", "digest realm (default TEV)",
     [](DeviceOptions& o, Pending&, const char* v) { o.realm = v; return quotable(v); }},
    {"--qop", "none|auth|auth-int|auth,auth-int", "qop offered in the challenge (default auth)",
     [](DeviceOptions& o, Pending&, const char* v) { o.qop = std::strcmp(v, "none") == 0 ? "" : v; return valid_qop(v); }},
    {"--algorithm", "none|MD5|MD5-sess|SHA-256|SHA-256-sess", "algorithm named in the challenge, as written (default MD5)",
     [](DeviceOptions& o, Pending&, const char* v) { return set_algorithm(o, v); }},
    {"--challenges", "ALG[,ALG...]", "several challenges in one 401 answer, a header line each in this order: algorithms as written, none (no algorithm), Basic",
     [](DeviceOptions& o, Pending&, const char* v) { return set_challenges(o, v); }},
    {"--algorithm-unquoted", nullptr, "write the algorithm as a bare token instead of a quoted string",
     [](DeviceOptions& o, Pending&, const char*) { o.algorithm_unquoted = true; return true; }},
    {"--opaque", "TEXT", "opaque value of the challenge, required back unchanged (default none)",
     [](DeviceOptions& o, Pending&, const char* v) { o.opaque = v; return quotable(v) && *v != 0; }},
    {"--nonce", "TEXT", "the first nonce (default made from --seed)",
     [](DeviceOptions& o, Pending&, const char* v) { o.first_nonce = v; return quotable(v) && *v != 0; }},
    {"--nonce-uses", "N", "a nonce expires after N accepted requests (default 0: never)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 1000000000, &n)) return false;
         o.nonce_uses = static_cast<unsigned>(n);
         return true;
     }},
    {"--nonce-lifetime", "SECONDS", "a nonce expires SECONDS after it was issued (default 0: never)",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.nonce_lifetime_ms); }},
    {"--refuse-reused-cnonce", nullptr, "refuse credentials whose cnonce the client already used with an earlier nonce",
     [](DeviceOptions& o, Pending&, const char*) { o.refuse_reused_cnonce = true; return true; }},
    {"--sess-form", "raw|hex|either", "md5-sess H(A1) over the raw first hash, its hex text (RFC 2617, curl), or either (default raw)",
     [](DeviceOptions& o, Pending&, const char* v) { return set_sess_form(o, v); }},
    {"--flash-time", "SECONDS", "time the flash write takes, web server closed meanwhile (default 20)",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.flash_ms); }},
    {"--image-file", "PATH", "where a received image is kept (default tev-device-image.bin)",
     [](DeviceOptions& o, Pending&, const char* v) { o.image_file = v; return *v != 0; }},
    {"--log", "PATH", "log file, appended to (default tev-device.log)",
     [](DeviceOptions& o, Pending&, const char* v) { o.log_file = v; return *v != 0; }},
    {"--tftp-timeout", "SECONDS", "silence after which the TFTP client sends its last packet again (default 5)",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.tftp_timeout_ms) && o.tftp_timeout_ms > 0; }},
    {"--tftp-no-options", nullptr, "send a plain read request naming no options; an OACK is then not understood",
     [](DeviceOptions& o, Pending&, const char*) { o.tftp_no_options = true; return true; }},
    {"--tftp-retries", "N", "retransmissions before the TFTP client gives up (default 5)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 1000, &n)) return false;
         o.tftp_retries = static_cast<int>(n);
         return true;
     }},
    {"--exit-after-upgrade", nullptr, "exit after the first upgrade order: when its transfer fails, or when the flash is written",
     [](DeviceOptions& o, Pending&, const char*) { o.exit_after_upgrade = true; return true; }},
    {"--quiet", nullptr, "print only the ready line on standard output",
     [](DeviceOptions& o, Pending&, const char*) { o.quiet = true; return true; }},
    {"--brief-log", nullptr, "log events only, without a line for every packet and connection",
     [](DeviceOptions& o, Pending&, const char*) { o.brief_log = true; return true; }},
    {"--seed", "N", "seed of the fault rates below and of the nonces (default 1)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 0xffffffffUL, &n)) return false;
         o.seed = static_cast<std::uint32_t>(n);
         return true;
     }},
    {"--drop-data", "RATE", "fault: lose this share (0 to 1) of the DATA packets received",
     [](DeviceOptions& o, Pending&, const char* v) { return set_rate(&o.drop_data, v); }},
    {"--drop-ack", "RATE", "fault: lose this share of the ACKs instead of sending them",
     [](DeviceOptions& o, Pending&, const char* v) { return set_rate(&o.drop_ack, v); }},
    {"--duplicate-ack", "RATE", "fault: send this share of the ACKs twice",
     [](DeviceOptions& o, Pending&, const char* v) { return set_rate(&o.duplicate_ack, v); }},
    {"--ack-other-port", "RATE", "fault: send this share of the ACKs from a second UDP port",
     [](DeviceOptions& o, Pending&, const char* v) { return set_rate(&o.ack_other_port, v); }},
    {"--error-instead-of-ack", "RATE", "fault: send an ERROR packet instead of this share of the ACKs",
     [](DeviceOptions& o, Pending&, const char* v) { return set_rate(&o.error_instead_of_ack, v); }},
    {"--late-ack", "RATE", "fault: hold back this share of the ACKs and send each after the ACK of a later block (reordering)",
     [](DeviceOptions& o, Pending&, const char* v) { return set_rate(&o.late_ack, v); }},
    {"--never-ack-oack", nullptr, "fault: never acknowledge the OACK",
     [](DeviceOptions& o, Pending&, const char*) { o.never_ack_oack = true; return true; }},
    {"--keep-connection-open", nullptr, "fault: keep each HTTP connection open after an answer without a length, until the client closes it",
     [](DeviceOptions& o, Pending&, const char*) {
         o.keep_alive = KeepAlive::NO_LENGTH;
         o.hold_forever = true;
         return true;
     }},
    {"--keep-alive", "length|chunked|no-length", "keep each HTTP connection open after the answer: with a Content-Length or chunked (a label split across chunks) whatever the client asks; without a length (no-length) unless the client asks for the close",
     [](DeviceOptions& o, Pending&, const char* v) { return set_keep_alive(o, v); }},
    {"--idle-timeout", "SECONDS", "close a connection kept open after SECONDS without a request (default 0: when the client does)",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.idle_timeout_ms); }},
    {"--header-case", "lower|canonical", "write header names in lower case, or capitalised word by word (Www-Authenticate)",
     [](DeviceOptions& o, Pending&, const char* v) { return set_header_case(o, v); }},
    {"--http10", nullptr, "answer with an HTTP/1.0 status line",
     [](DeviceOptions& o, Pending&, const char*) { o.http10 = true; return true; }},
    {"--basic-first", "own-line|same-line", "put a Basic challenge before the Digest one, on a header line of its own or first on the same line",
     [](DeviceOptions& o, Pending&, const char* v) { return set_basic_first(o, v); }},
    {"--never-answer", nullptr, "fault: accept each HTTP connection, read its request and never answer it; the connection stays open until the client closes it",
     [](DeviceOptions& o, Pending&, const char*) { o.never_answer = true; return true; }},
    {"--never-return", nullptr, "fault: the web server stays closed after the flash",
     [](DeviceOptions& o, Pending&, const char*) { o.never_return = true; return true; }},
    {"--report-version", "TEXT", "fault: after a flash report TEXT instead of the image's version",
     [](DeviceOptions& o, Pending&, const char* v) { o.report_version_set = true; o.report_version = v; return true; }},
    {"--report-version-case", "upper|lower|swap", "fault: after a flash report the version in other letter case",
     [](DeviceOptions& o, Pending&, const char* v) { return set_case(o, v); }},
    {"--web-delay", "SECONDS", "fault: open the web server only SECONDS after start",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.web_delay_ms); }},
    {"--tftp-delay", "SECONDS", "fault: send the read request only SECONDS after the upgrade order",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.tftp_delay_ms); }},
    {"--request-name", "NAME", "fault: ask the TFTP server for NAME instead of the ordered file name",
     [](DeviceOptions& o, Pending&, const char* v) { o.request_name = v; return !o.request_name.empty(); }},
    {"--pause-after-block", "N", "fault: after acknowledging DATA block N, stay silent for --pause-time (a flash sector erase)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 0xffffffffUL, &n) || n == 0) return false;
         o.pause_after_block = static_cast<std::uint32_t>(n);
         return true;
     }},
    {"--pause-time", "SECONDS", "fault: how long the pause of --pause-after-block lasts (default 0)",
     [](DeviceOptions& o, Pending&, const char* v) { return parse_seconds(v, &o.pause_ms); }},
    {"--quit-first-transfer-after", "N", "fault: in the first transfer only, fall silent after acknowledging DATA block N and give that transfer up (later transfers run whole)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 0xffffffffUL, &n) || n == 0) return false;
         o.quit_first_transfer_after = static_cast<std::uint32_t>(n);
         return true;
     }},
    {"--drop-last-ack", nullptr, "fault: lose the first ACK of the final block",
     [](DeviceOptions& o, Pending&, const char*) { o.drop_last_ack = true; return true; }},
    {"--ignore-repeated-last-block", nullptr, "fault: do not acknowledge the final block when the server sends it again",
     [](DeviceOptions& o, Pending&, const char*) { o.ignore_repeated_last_block = true; return true; }},
    {"--ack-ahead", "N", "fault: answer DATA block N with the ACK of block N+4 and wait for block N+5 next (a block counter that jumps)",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 0xffffffffUL, &n) || n == 0) return false;
         o.ack_ahead_block = static_cast<std::uint32_t>(n);
         return true;
     }},
    {"--page-padding", "BYTES", "fault: make the status page BYTES longer with a comment after its table",
     [](DeviceOptions& o, Pending&, const char* v) {
         unsigned long n = 0;
         if (!parse_unsigned(v, 16ul << 20, &n)) return false;
         o.page_padding = n;
         return true;
     }},
    {"--help", nullptr, "show this list", nullptr},
};

void apply_model_defaults(DeviceOptions* o, const Pending& p) {
    o->product_name = p.product_name.value_or(o->handset ? "TEV-610" : "TEV-4400");
    o->software_version = p.software_version.value_or(o->handset ? "1.4.2" : "3.1.8(a)");
    o->hardware_version = p.hardware_version.value_or(o->handset ? "HS-2" : "Rev. B");
    o->markup = p.markup.value_or(o->handset ? Markup::FONT : Markup::BOLD);
}

const OptionRow* find_option(const char* name) {
    for (const OptionRow& row : OPTIONS) {
        if (std::strcmp(row.name, name) == 0) return &row;
    }
    return nullptr;
}

}  // namespace

bool parse_ipv4(const char* text, std::uint32_t* address) {
    std::uint32_t value = 0;
    const char* c = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *c++ != '.') return false;
        if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
        unsigned number = 0;
        int digits = 0;
        while (std::isdigit(static_cast<unsigned char>(*c)) && digits < 4) {
            number = number * 10 + static_cast<unsigned>(*c++ - '0');
            ++digits;
        }
        if (number > 255 || digits > 3) return false;
        value = value << 8 | number;
    }
    if (*c != 0) return false;
    *address = value;
    return true;
}

std::uint32_t tftp_client_address(const DeviceOptions& options) {
    return options.tftp_source != 0 ? options.tftp_source : options.address;
}

std::string ipv4_text(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xff, address >> 8 & 0xff,
                  address & 0xff);
    return text;
}

ParseResult parse_options(int argc, char** argv, DeviceOptions* options) {
    Pending pending;
    options->mac_address = "00:1B:5A:12:34:56";
    options->serial_number = "TV12345678";
    for (int i = 1; i < argc; ++i) {
        const OptionRow* row = find_option(argv[i]);
        if (row == nullptr) {
            std::fprintf(stderr, "tev-device: unknown option %s (see --help)\n", argv[i]);
            return ParseResult::BAD;
        }
        if (row->set == nullptr) return ParseResult::HELP;
        const char* value = nullptr;
        if (row->argument != nullptr) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tev-device: %s needs %s\n", row->name, row->argument);
                return ParseResult::BAD;
            }
            value = argv[++i];
        }
        if (!row->set(*options, pending, value)) {
            std::fprintf(stderr, "tev-device: bad value for %s: %s (expected %s)\n", row->name, value,
                         row->argument);
            return ParseResult::BAD;
        }
    }
    if (!pending.address_given) {
        std::fprintf(stderr, "tev-device: --address is required\n");
        return ParseResult::BAD;
    }
    apply_model_defaults(options, pending);
    return ParseResult::RUN;
}

void print_help() {
    std::printf("usage: tev-device --address A.B.C.D [options]\n"
                "A simulated TEV adapter or handset: web server with status page, digest authentication and\n"
                "the upgrade command; TFTP client; flash write. It logs what it sees and keeps the image.\n\n");
    for (const OptionRow& row : OPTIONS) {
        char left[64];
        std::snprintf(left, sizeof left, "%s%s%s", row.name, row.argument ? " " : "", row.argument ? row.argument : "");
        std::printf("  %-40s %s\n", left, row.help);
    }
    std::printf("\nRATE is a share from 0 to 1 (1: every packet), drawn from --seed. SECONDS may have a fraction.\n"
                "The device prints \"tev-device: ready on A.B.C.D:PORT\" once its web server listens.\n");
}
