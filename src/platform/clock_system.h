// The system's own millisecond clock, one file per system: what clock_ms reads while no test
// substitutes another. Wraps around after 2^32 ms.
#pragma once
#include <cstdint>

std::uint32_t clock_system_ms();
