// The files the options name, read or created, and the one line that says why one cannot be.
#include "main/named_files.h"

#include <cerrno>
#include <cstring>

namespace {

std::string first_line(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::string file_problem(const char* verb, const char* what, const char* path, const char* reason) {
    return std::string("can't ") + verb + " " + what + " " + path + ": " + reason;
}

bool read_named_file(const char* what, const char* path, std::string* text, std::string* problem) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *problem = file_problem("read", what, path, std::strerror(errno));
        return false;
    }
    text->clear();
    char block[4096];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text->append(block, got);
    // A folder opens on Linux, and only the read tells: EISDIR.
    bool failed = std::ferror(file) != 0;
    int error = errno;
    std::fclose(file);
    if (failed) *problem = file_problem("read", what, path, std::strerror(error));
    return !failed;
}

bool read_password_file(const char* path, std::string* password, std::string* problem) {
    if (std::strcmp(path, "-") != 0) {
        std::string text;
        if (!read_named_file("the password file", path, &text, problem)) return false;
        *password = first_line(text);
        return true;
    }
    std::string line;
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        line += static_cast<char>(c);
    }
    *password = first_line(line);
    return true;
}

std::FILE* create_named_file(const char* what, const char* path, const char* mode,
                             std::string* problem) {
    std::FILE* file = std::fopen(path, mode);
    if (file == nullptr) *problem = file_problem("create", what, path, std::strerror(errno));
    return file;
}
