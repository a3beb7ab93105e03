// A resource table that unit tests fill as each case needs.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/posix/embedded_resources.h"

void set_test_resources(const std::vector<EmbeddedResource>& resources);
