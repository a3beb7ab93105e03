// The device list of a run over several devices: the --device options and the lines of a
// --devices file, each address once.
#pragma once
#include <string>
#include <vector>

// Adds the address text to the list in its plain dotted form. False, with *problem saying why,
// when it is no device's IPv4 address or is in the list already (however it was spelled).
bool add_fleet_device(std::vector<std::string>* list, const std::string& text,
                      std::string* problem);

// Adds every address of a devices file's text: one a line, blank lines and '#' comments (whole
// lines or after the address) skipped. A problem names the file and the line.
bool add_fleet_devices_text(std::vector<std::string>* list, const std::string& text,
                            const std::string& file_name, std::string* problem);
