// The device list of a run over several devices, from the options and a devices file.
#include "main/fleet_devices.h"

#include <cstdint>

#include "core/trace.h"
#include "ui/ipv4_parse.h"

namespace {

std::string trimmed(const std::string& text) {
    const char* space = " \t\r";
    std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

bool add_fleet_device(std::vector<std::string>* list, const std::string& text,
                      std::string* problem) {
    std::uint32_t address = 0;
    if (parse_ipv4_text(text.c_str(), &address) != IPV4_OK || address == 0) {
        *problem = std::string("'").append(text, 0, 60).append("' is not an IPv4 address");
        return false;
    }
    std::string plain = dotted(address).text;
    for (const std::string& known : *list) {
        if (known == plain) {
            *problem = plain + " is listed twice";
            return false;
        }
    }
    list->push_back(plain);
    return true;
}

bool add_fleet_devices_text(std::vector<std::string>* list, const std::string& text,
                            const std::string& file_name, std::string* problem) {
    std::size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::string address = trimmed(line.substr(0, line.find('#')));
        if (address.empty()) continue;
        if (!add_fleet_device(list, address, problem)) {
            std::string where = file_name + ":" + std::to_string(number) + ": ";
            problem->insert(0, where);
            return false;
        }
    }
    return true;
}
