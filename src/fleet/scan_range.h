// The addresses of a scan's range: A.B.C.D/NN or A.B.C.D-E.F.G.H.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "fleet/fleet_devices.h"

// A scan asks at most this many addresses: a /20, or a range of that length.
constexpr std::size_t SCAN_MAX_ADDRESSES = 4096;
constexpr int SCAN_SHORTEST_PREFIX = 20;

// The range's addresses in order, as devices without labels. A.B.C.D/NN (NN from 20 to 32) is the
// network of A.B.C.D's first NN bits; up to a /30 without its first and last address (the
// network's own and its broadcast). A.B.C.D-E.F.G.H is every address from the first to the last.
// False, with *problem saying why ("a prefix from /20 to /32 ...") for anything else, a reversed
// range, one past SCAN_MAX_ADDRESSES, or an end that names no device (0.0.0.0, which a network
// leaves out).
bool scan_range_read(const std::string& text, std::vector<FleetDevice>* devices,
                     std::string* problem);
