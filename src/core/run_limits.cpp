// The deadline's value as the command line gives it.
#include "core/run_limits.h"

#include <cerrno>
#include <cstdlib>

bool read_deadline_seconds(const char* text, long* seconds) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || errno != 0 || value < 1 || value > MAX_RUN_DEADLINE_S) {
        return false;
    }
    *seconds = value;
    return true;
}
