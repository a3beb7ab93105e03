// Reading a scan's range into its addresses.
#include "fleet/scan_range.h"

#include <cstdint>

#include "core/trace.h"
#include "ui/ipv4_parse.h"

namespace {

constexpr int ADDRESS_BITS = 32;
// Networks up to this length have a network address and a broadcast address that are no host's.
constexpr int LONGEST_PREFIX_WITH_BROADCAST = 30;

bool read_address(const std::string& text, std::uint32_t* address, std::string* problem) {
    if (const char* refusal = ipv4_refusal(text.c_str())) {
        *problem = std::string("'").append(text, 0, 20).append("': ") + refusal;
        return false;
    }
    parse_ipv4_text(text.c_str(), address);
    return true;
}

// One or two digits, 20 to 32.
bool read_prefix(const std::string& text, int* prefix) {
    if (text.empty() || text.size() > 2) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    *prefix = value;
    return value >= SCAN_SHORTEST_PREFIX && value <= ADDRESS_BITS;
}

bool read_network(const std::string& text, std::size_t slash, std::uint64_t* first,
                  std::uint64_t* last, std::string* problem) {
    std::uint32_t address = 0;
    if (!read_address(text.substr(0, slash), &address, problem)) return false;
    int prefix = 0;
    if (!read_prefix(text.substr(slash + 1), &prefix)) {
        *problem = "a prefix from /" + std::to_string(SCAN_SHORTEST_PREFIX) + " to /32 (at most " +
                   std::to_string(SCAN_MAX_ADDRESSES) + " addresses)";
        return false;
    }
    std::uint64_t size = std::uint64_t{1} << (ADDRESS_BITS - prefix);
    *first = address & ~(size - 1);
    *last = *first + size - 1;
    if (prefix <= LONGEST_PREFIX_WITH_BROADCAST) {
        ++*first;
        --*last;
    }
    return true;
}

bool read_span(const std::string& text, std::size_t dash, std::uint64_t* first,
               std::uint64_t* last, std::string* problem) {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    if (!read_address(text.substr(0, dash), &from, problem) ||
        !read_address(text.substr(dash + 1), &to, problem)) {
        return false;
    }
    if (from > to) {
        *problem = "the first address comes after the last";
        return false;
    }
    *first = from;
    *last = to;
    if (*last - *first + 1 <= SCAN_MAX_ADDRESSES) return true;
    *problem = std::to_string(*last - *first + 1) + " addresses; at most " +
               std::to_string(SCAN_MAX_ADDRESSES);
    return false;
}

}  // namespace

bool scan_range_read(const std::string& text, std::vector<FleetDevice>* devices,
                     std::string* problem) {
    std::size_t slash = text.find('/');
    std::size_t dash = text.find('-');
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool read = false;
    if (slash != std::string::npos && dash == std::string::npos) {
        read = read_network(text, slash, &first, &last, problem);
    } else if (dash != std::string::npos && slash == std::string::npos) {
        read = read_span(text, dash, &first, &last, problem);
    } else {
        *problem = "a range is A.B.C.D/NN or A.B.C.D-E.F.G.H";
    }
    if (!read) return false;
    if (first == 0) ++first;  // 0.0.0.0 names no device
    devices->clear();
    for (std::uint64_t address = first; address <= last; ++address) {
        devices->push_back({dotted(static_cast<std::uint32_t>(address)).text, ""});
    }
    return true;
}
