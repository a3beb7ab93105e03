// The answers and the events file the options ask for, shared by both program entries.
#include "main/run_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/upgrade_sequence.h"

namespace {

// The first line of the file ("-": standard input), without its line break.
bool read_password(const char* path, std::string* password, std::string* problem) {
    bool from_input = std::strcmp(path, "-") == 0;
    std::FILE* file = from_input ? stdin : std::fopen(path, "r");
    if (file == nullptr) {
        *problem = std::string("can't read ") + path + ": " + std::strerror(errno);
        return false;
    }
    password->clear();
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
        *password += static_cast<char>(c);
    }
    if (!password->empty() && password->back() == '\r') password->pop_back();
    if (!from_input) std::fclose(file);
    return true;
}

}  // namespace

bool answers_from_options(const CommandLine& line, ScriptedAnswerSet* answers,
                          std::string* problem) {
    answers->device = line.device;
    answers->local = line.local;
    answers->user = line.user;
    answers->yes = line.yes;
    answers->check = line.check;
    // What the sequence does with the status page it read.
    upgrade_sequence_set_action(line.check          ? StatusAction::CHECK
                                : line.skip_current ? StatusAction::SKIP_CURRENT
                                                    : StatusAction::UPGRADE);
    if (line.password_file != nullptr) {
        if (!read_password(line.password_file, &answers->password, problem)) return false;
        answers->has_password = true;
    } else if (const char* password = std::getenv("TEV_PASSWORD"); password != nullptr) {
        answers->password = password;
        answers->has_password = true;
    }
    return true;
}

std::FILE* open_events_file(const char* path, std::string* problem) {
    if (std::strcmp(path, "-") == 0) return stdout;
    // Binary: one "\n" a line on both systems, as JSON-lines readers expect.
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        *problem = std::string("can't create the events file ") + path + ": " + std::strerror(errno);
    }
    return file;
}
