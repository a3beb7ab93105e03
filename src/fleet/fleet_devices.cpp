// The device list of a run over several devices, from the options and a devices file.
#include "fleet/fleet_devices.h"

#include <cstdint>

#include "core/trace.h"
#include "ui/ipv4_parse.h"

namespace {

constexpr const char* SPACE = " \t\r";
constexpr std::size_t LABEL_LIMIT = 60;

std::string trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(SPACE);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(SPACE) - first + 1);
}

// The label after the address: a '#' before it is only a comment mark; no control characters.
std::string label_of(const std::string& rest) {
    std::string label = trimmed(rest);
    if (!label.empty() && label[0] == '#') label = trimmed(label.substr(1));
    if (label.size() > LABEL_LIMIT) label.resize(LABEL_LIMIT);
    for (char& c : label) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return label;
}

}  // namespace

bool add_fleet_device(std::vector<FleetDevice>* list, const std::string& text,
                      const std::string& label, std::string* problem) {
    std::uint32_t address = 0;
    if (parse_ipv4_text(text.c_str(), &address) != IPV4_OK || address == 0) {
        *problem = std::string("'").append(text, 0, 60).append("' is not an IPv4 address");
        return false;
    }
    std::string plain = dotted(address).text;
    for (const FleetDevice& known : *list) {
        if (known.address == plain) {
            *problem = plain + " is listed twice";
            return false;
        }
    }
    list->push_back({plain, label});
    return true;
}

bool add_fleet_devices_text(std::vector<FleetDevice>* list, const std::string& text,
                            const std::string& file_name, std::string* problem) {
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        std::size_t address_end = line.find_first_of(" \t#");
        std::string address = line.substr(0, address_end);
        std::string rest = address_end == std::string::npos ? "" : line.substr(address_end);
        if (!add_fleet_device(list, address, label_of(rest), problem)) {
            problem->insert(0, file_name + ":" + std::to_string(number) + ": ");
            return false;
        }
    }
    return true;
}
