// Parses the TFTP URL of the upgrade command. The port may be left out (69); the file name is
// taken exactly as written, its leading "/" included.
#include "upgrade_command.h"

#include <cctype>
#include <cstring>

#include "device_options.h"

bool is_upgrade_command(const std::string& target) { return target.rfind(UPGRADE_PATH_PREFIX, 0) == 0; }

bool parse_upgrade_command(const std::string& target, UpgradeOrder* order) {
    const std::string scheme = std::string(UPGRADE_PATH_PREFIX) + "tftp://";
    if (target.rfind(scheme, 0) != 0) return false;
    std::size_t host_start = scheme.size();
    std::size_t slash = target.find('/', host_start);
    if (slash == std::string::npos) return false;
    std::string authority = target.substr(host_start, slash - host_start);
    std::size_t colon = authority.find(':');
    std::string host = authority.substr(0, colon);
    if (!parse_ipv4(host.c_str(), &order->server_address) || order->server_address == 0) return false;
    order->server_port = 69;
    if (colon != std::string::npos) {
        std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5) return false;
        unsigned long value = 0;
        for (char c : port) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
            value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (value == 0 || value > 65535) return false;
        order->server_port = static_cast<std::uint16_t>(value);
    }
    order->file_name = target.substr(slash);
    return order->file_name.size() > 1 && order->file_name.size() <= TFTP_FILE_NAME_MAX;
}
