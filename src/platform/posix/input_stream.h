// Typed input on a descriptor (standard input, or a test's pipe): a wait for it that a signal may
// cut short, and a read of what has come.
#pragma once
#include <cstddef>

enum class InputWait { NOTHING, READY, BROKEN };
// Waits at most timeout_ms (0: only looks) for input on fd. READY when a read would not block;
// BROKEN when fd cannot even be waited on (no descriptors left, say), so it will never bring a
// line; NOTHING when the time passed or a signal cut the wait short.
InputWait input_wait(int fd, int timeout_ms);
// Reads what is there: the number of bytes, 0 at the end of the input or after an error that will
// not pass, -1 when a signal cut the read short or nothing is there yet.
long input_read(int fd, char* buffer, std::size_t size);
