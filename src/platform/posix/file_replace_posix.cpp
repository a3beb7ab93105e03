// Replacing a file whole on POSIX: a temporary file beside it, fsync, rename over it.
#include "platform/file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool file_replace(const std::string& path, const std::string& text, std::string* problem) {
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    std::size_t done = 0;
    while (written && done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        written = wrote > 0;
        if (written) done += static_cast<std::size_t>(wrote);
    }
    // On the disk before the name moves: a power cut leaves the old report or the new one.
    written = written && fsync(fd) == 0;
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
