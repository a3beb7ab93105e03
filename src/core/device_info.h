// The five values the upgrader reads off the device's status page.
#pragma once

constexpr int DEVICE_TEXT_SIZE = 128;

struct DeviceInfo {
    char product_name[DEVICE_TEXT_SIZE];
    char mac_address[DEVICE_TEXT_SIZE];
    char software_version[DEVICE_TEXT_SIZE];
    char hardware_version[DEVICE_TEXT_SIZE];
    char serial_number[DEVICE_TEXT_SIZE];
};
