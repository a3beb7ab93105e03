// The Linux program's entry: the options (they answer the dialogs, route the output and the
// events), then the same upgrade as on Windows, shown in the console. The exit status tells the
// outcome: 0 verified or current, 1 failed, cancelled or a device of another model, 2 a wrong
// command line, 3 a check that found the device at another version.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/run_deadline.h"
#include "app/start_up.h"
#include "console/console_output.h"
#include "console/dialog_questions.h"
#include "core/run_report.h"
#include "main/event_stream.h"
#include "main/fleet_console.h"
#include "main/fleet_options.h"
#include "main/run_options.h"
#include "ui/ipv4_parse.h"
#include "ui/scripted_answers.h"

namespace {

[[noreturn]] void stop(int status, const std::string& message) {
    std::fprintf(stderr, "tev-upgrade: %s\n", message.c_str());
    std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t start_ms = event_clock_ms();
    CommandLine line = parse_command_line(argc - 1, argv + 1, OptionStyle::LINUX);
    switch (line.action) {
        case CommandAction::HELP:
            std::fputs(usage_text(OptionStyle::LINUX).c_str(), stdout);
            return 0;
        case CommandAction::VERSION: {
            std::string problem;
            if (!images_from_options(line, &problem)) stop(EXIT_USAGE, problem);
            std::fputs(version_text().c_str(), stdout);
            return 0;
        }
        case CommandAction::BAD_USAGE:
            std::fprintf(stderr,
                         "tev-upgrade: %s\nUsage: tev-upgrade [OPTION]...\n"
                         "Try 'tev-upgrade --help' for more information.\n",
                         line.problem);
            return EXIT_USAGE;
        case CommandAction::UPGRADE: break;
    }
    if (fleet_wanted(line)) return run_fleet_console(line, argc, argv);
    std::string problem;
    std::FILE* events = nullptr;
    if (line.events_path != nullptr) {
        events = open_events_file(line.events_path, &problem);
        if (events == nullptr) stop(EXIT_USAGE, problem);
    }
    // Standard output that carries the events carries nothing else.
    std::FILE* text_output = events == stdout ? stderr : stdout;
    // A quiet run prints only its result line: the failure's text on standard error.
    console_output_use(line.quiet ? nullptr : text_output);
    // A check shows what it read in its result line, quiet or not.
    static EventStream stream(events, line.quiet || line.check ? text_output : nullptr,
                              line.quiet ? stderr : nullptr, start_ms);
    run_events_use(&stream);
    ScriptedAnswerSet answers;
    if (!answers_from_options(line, &answers, &problem) || !images_from_options(line, &problem))
        stop(EXIT_USAGE, problem);
    if (line.log_path != nullptr && !open_support_log(line.log_path, &problem))
        stop(EXIT_USAGE, problem);
    scripted_answers_use(answers);
    console_address_check_use(ipv4_refusal);
    if (!start_run_deadline(run_deadline_seconds(line))) {
        stop(EXIT_FAILED, "can't start the thread that keeps the deadline");
    }
    upgrade_main(nullptr);
    run_end();
}
