// Replacing a file whole on POSIX: a temporary file beside it, created anew, fsync, rename over it.
#include "platform/file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Names tried beside the file before giving up: PATH.tmpPID, then PATH.tmpPID.1, ...
constexpr int TEMPORARY_NAMES = 100;

// A temporary file of a name nobody holds: never one that exists already, nor a link planted at
// that name (it is neither followed nor truncated). -1 with errno set when none can be made.
int create_temporary(const std::string& path, std::string* name) {
    std::string base = path + ".tmp" + std::to_string(getpid());
    for (int i = 0; i < TEMPORARY_NAMES; ++i) {
        *name = i == 0 ? base : base + "." + std::to_string(i);
        int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

bool file_replace(const std::string& path, const std::string& text, std::string* problem) {
    std::string temporary;
    int fd = create_temporary(path, &temporary);
    // On the disk before the name moves: a power cut leaves the old report or the new one.
    bool written = fd >= 0 && write_all(fd, text) && fsync(fd) == 0;
    int saved = errno;
    if (fd >= 0 && close(fd) != 0 && written) {
        written = false;
        saved = errno;
    }
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    if (written) saved = errno;
    *problem = "can't write " + path + ": " + std::strerror(saved);
    if (fd >= 0) unlink(temporary.c_str());
    return false;
}
