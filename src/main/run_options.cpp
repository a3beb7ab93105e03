// The answers and the events file the options ask for, shared by both program entries.
#include "main/run_options.h"

#include <cstdlib>
#include <cstring>

#include "app/device_http.h"
#include "app/start_up.h"
#include "app/upgrade_sequence.h"
#include "core/run_images.h"
#include "main/named_files.h"

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
    upgrade_sequence_set_addresses(line.device, line.local);
    upgrade_sequence_set_any_model(line.any_model);
    http_get_probe_only(line.scan_probe);
    return password_from_options(line, &answers->has_password, &answers->password, problem);
}

bool password_from_options(const CommandLine& line, bool* has_password, std::string* password,
                           std::string* problem) {
    *has_password = false;
    if (line.password_file != nullptr) {
        if (!read_password_file(line.password_file, password, problem)) return false;
        *has_password = true;
    } else if (const char* variable = std::getenv("TEV_PASSWORD"); variable != nullptr) {
        *password = variable;
        *has_password = true;
    }
    return true;
}

bool images_from_options(const CommandLine& line, std::string* problem) {
    for (int i = 0; i < line.image_count; ++i) {
        if (!run_images_add_file(line.images[i], problem)) return false;
    }
    return true;
}

std::FILE* open_events_file(const char* path, std::string* problem) {
    if (std::strcmp(path, "-") == 0) return stdout;
    // Binary: one "\n" a line on both systems, as JSON-lines readers expect.
    return create_named_file("the events file", path, "wb", problem);
}

bool open_support_log(const char* path, std::string* problem) {
    char reason[128] = "";
    if (support_log_open(path, reason, sizeof reason)) return true;
    *problem = file_problem("create", "the log file", path, reason);
    return false;
}
