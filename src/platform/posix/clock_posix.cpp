// The system clock and sleep on POSIX.
#include <time.h>

#include "platform/clock.h"
#include "platform/clock_system.h"

std::uint32_t clock_system_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                        static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
}

void clock_sleep_ms(std::uint32_t milliseconds) {
    timespec wanted{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec left{};
    while (nanosleep(&wanted, &left) != 0) wanted = left;
}
