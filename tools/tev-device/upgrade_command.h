// The upgrade command "/admin/upgrade?tftp://A.B.C.D:PORT/NAME": where to fetch the image from.
#pragma once
#include <cstdint>
#include <string>

constexpr const char* UPGRADE_PATH_PREFIX = "/admin/upgrade?";
constexpr std::size_t TFTP_FILE_NAME_MAX = 255;

struct UpgradeOrder {
    std::uint32_t server_address = 0;  // host byte order
    std::uint16_t server_port = 69;
    std::string file_name;  // from the "/" after the port, that "/" included
};

// True when `target` starts with the upgrade path prefix.
bool is_upgrade_command(const std::string& target);
// Reads the order from the whole target; false when it is malformed.
bool parse_upgrade_command(const std::string& target, UpgradeOrder* order);
