// The limit of open files on POSIX: the soft limit raised within the hard one.
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/open_files.h"

bool open_files_allow(long needed, char* problem, std::size_t size) {
    rlimit limit{};
    // Without an answer from the system the run goes ahead; a pipe it cannot make fails alone.
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return true;
    auto wanted = static_cast<rlim_t>(needed);
    if (limit.rlim_cur >= wanted) return true;
    if (limit.rlim_max < wanted) {
        std::snprintf(problem, size, "%ld open files needed, but the hard limit is %llu (ulimit -Hn)",
                      needed, static_cast<unsigned long long>(limit.rlim_max));
        return false;
    }
    limit.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        std::snprintf(problem, size, "%ld open files needed, and the limit could not be raised: %s",
                      needed, std::strerror(errno));
        return false;
    }
    return true;
}
