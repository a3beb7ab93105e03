// Typed input on POSIX: poll and read.
#include "platform/posix/input_stream.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

InputWait input_wait(int fd, int timeout_ms) {
    struct pollfd ready {
        fd, POLLIN, 0
    };
    int polled = poll(&ready, 1, timeout_ms);
    if (polled < 0) return errno == EINTR ? InputWait::NOTHING : InputWait::BROKEN;
    return polled > 0 ? InputWait::READY : InputWait::NOTHING;
}

long input_read(int fd, char* buffer, std::size_t size) {
    ssize_t got = read(fd, buffer, size);
    if (got >= 0) return static_cast<long>(got);
    return errno == EINTR || errno == EAGAIN ? -1 : 0;
}
