// The device list of a run over several devices: the --device options and the lines of a
// --devices file, each address once, with the label a line may carry.
#pragma once
#include <string>
#include <vector>

struct FleetDevice {
    std::string address;  // plain dotted form
    std::string label;    // the text after the address on its line; may be empty
};

// Adds the address text to the list in its plain dotted form. False, with *problem saying why,
// when it is no device's IPv4 address or is in the list already (however it was spelled).
bool add_fleet_device(std::vector<FleetDevice>* list, const std::string& text,
                      const std::string& label, std::string* problem);

// Adds every address of a devices file's text: one a line, blank lines and whole-line '#'
// comments skipped. What follows the address on its line is its label ("127.0.0.5  office 2"
// or "127.0.0.5  # office 2"). A problem names the file and the line.
bool add_fleet_devices_text(std::vector<FleetDevice>* list, const std::string& text,
                            const std::string& file_name, std::string* problem);
