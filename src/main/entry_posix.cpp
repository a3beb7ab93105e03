// The Linux program's entry: the options (they answer the dialogs, route the output and the
// events), then the same upgrade as on Windows, shown in the console. The exit status tells the
// outcome: 0 verified, 1 failed or cancelled, 2 a wrong command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/start_up.h"
#include "core/run_report.h"
#include "main/event_stream.h"
#include "main/fleet_run.h"
#include "platform/posix/console_dialogs.h"
#include "ui/scripted_answers.h"

namespace {

[[noreturn]] void stop(int status, const std::string& message) {
    std::fprintf(stderr, "tev-upgrade: %s\n", message.c_str());
    std::exit(status);
}

// The first line of the file ("-": standard input), without its line break.
std::string read_password(const char* path) {
    bool from_input = std::strcmp(path, "-") == 0;
    std::FILE* file = from_input ? stdin : std::fopen(path, "r");
    if (file == nullptr) {
        stop(EXIT_FAILED, std::string("can't read ") + path + ": " + std::strerror(errno));
    }
    std::string line;
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!from_input) std::fclose(file);
    return line;
}

std::FILE* open_events(const char* path) {
    if (std::strcmp(path, "-") == 0) return stdout;
    std::FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        stop(EXIT_FAILED,
             std::string("can't create the events file ") + path + ": " + std::strerror(errno));
    }
    return file;
}

ScriptedAnswerSet answers_of(const CommandLine& line) {
    ScriptedAnswerSet answers;
    answers.device = line.device;
    answers.local = line.local;
    answers.user = line.user;
    answers.yes = line.yes;
    if (line.password_file != nullptr) {
        answers.password = read_password(line.password_file);
        answers.has_password = true;
    } else if (const char* password = std::getenv("TEV_PASSWORD"); password != nullptr) {
        answers.password = password;
        answers.has_password = true;
    }
    return answers;
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t start_ms = event_clock_ms();
    CommandLine line = parse_command_line(argc - 1, argv + 1, OptionStyle::LINUX);
    switch (line.action) {
        case CommandAction::HELP:
            std::fputs(usage_text(OptionStyle::LINUX).c_str(), stdout);
            return 0;
        case CommandAction::VERSION: std::fputs(version_text().c_str(), stdout); return 0;
        case CommandAction::BAD_USAGE:
            std::fprintf(stderr,
                         "tev-upgrade: %s\nUsage: tev-upgrade [OPTION]...\n"
                         "Try 'tev-upgrade --help' for more information.\n",
                         line.problem);
            return EXIT_USAGE;
        case CommandAction::UPGRADE: break;
    }
    if (fleet_wanted(line)) return run_fleet(line, argv[0]);
    std::FILE* events = line.events_path != nullptr ? open_events(line.events_path) : nullptr;
    // Standard output that carries the events carries nothing else.
    std::FILE* text_output = events == stdout ? stderr : stdout;
    // A quiet run prints only its result line: the failure's text on standard error.
    console_output_use(line.quiet ? nullptr : text_output);
    static EventStream stream(events, line.quiet ? text_output : nullptr,
                              line.quiet ? stderr : nullptr, start_ms);
    run_events_use(&stream);
    scripted_answers_use(answers_of(line));
    upgrade_main(nullptr, line.log_path);
    run_end();
}
