// A connect that gives up after a time limit (POSIX). A blocking connect to an address where
// nothing answers lasts about 21 s on Windows (its SYN sent three times, after 3, 6 and 12 s);
// Linux keeps resending for more than two minutes. net_connect keeps the Windows limit.
#pragma once
#include "platform/net.h"

constexpr int NET_CONNECT_LIMIT_MS = 21'000;

// net_connect_within (platform/net.h) on POSIX: errno is ETIMEDOUT when the limit passed, and a
// net_shutdown from another thread ends the wait.
