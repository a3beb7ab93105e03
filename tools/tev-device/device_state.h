// What the simulated device is and knows while it runs.
#pragma once
#include <string>

#include "device_options.h"
#include "digest_check.h"
#include "fault_dice.h"

struct DeviceState {
    DeviceOptions options;
    DigestServer digest;
    FaultDice dice;
    std::string software_version;  // shown on the status page; changes with each flash
    int transfers = 0;             // read transfers begun so far
};
