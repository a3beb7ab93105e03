// The Windows program's entry: the options of the console program in the Windows spelling (they
// fill the dialogs, and with /yes answer them), the log and the events file, then the upgrade.
// The exit status tells the outcome, as the console program's: 0 verified, 1 failed or
// cancelled, 2 a wrong command line; a batch file reads it after `start /wait`.
#include <windows.h>

#include <cstdlib>  // __argc, __argv
#include <string>

#include "app/command_line.h"
#include "app/run_deadline.h"
#include "app/start_up.h"
#include "core/run_report.h"
#include "main/event_stream.h"
#include "main/fleet_options.h"
#include "main/list_window.h"
#include "main/run_options.h"
#include "platform/win32/hidden_run.h"
#include "ui/error_box.h"
#include "ui/scripted_answers.h"

namespace {

// A problem with a file the options name: the box says it, and nothing is sent to the device.
int stop(std::string problem) {
    if (!problem.empty() && problem[0] >= 'a' && problem[0] <= 'z') problem[0] -= 'a' - 'A';
    show_error_box(problem.c_str());
    return EXIT_USAGE;
}

// Before the options are read: with /yes anywhere on the command line even the box that refuses
// them presses its own OK, so that a scheduled job never waits for a person.
void boxes_answer_themselves_if_yes() {
    ScriptedAnswerSet answers;
    answers.yes = yes_among_arguments(__argc - 1, __argv + 1, OptionStyle::WINDOWS);
    scripted_answers_use(answers);
}

// A devices file dropped on the program's icon: its path the one argument.
bool is_dropped_file(int count, const char* const* arguments) {
    if (count != 1 || arguments[0][0] == '/' || arguments[0][0] == '-') return false;
    DWORD attributes = GetFileAttributesA(arguments[0]);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A child of the list window (which sets TEV_HIDDEN) runs without a window.
bool is_hidden_child() {
    char value[8];
    DWORD length = GetEnvironmentVariableA("TEV_HIDDEN", value, sizeof value);
    return length > 0 && length < sizeof value && value[0] == '1';
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::int64_t start_ms = event_clock_ms();
    if (is_hidden_child()) hidden_run_start();
    // The C runtime splits the command line with Windows' own quoting rules.
    const char* dropped[] = {"/devices", __argc > 1 ? __argv[1] : ""};
    CommandLine line = is_dropped_file(__argc - 1, __argv + 1)
                           ? parse_command_line(2, dropped, OptionStyle::WINDOWS)
                           : parse_command_line(__argc - 1, __argv + 1, OptionStyle::WINDOWS);
    boxes_answer_themselves_if_yes();
    switch (line.action) {
        case CommandAction::HELP:
            show_error_box(usage_text(OptionStyle::WINDOWS).c_str(), "TEV Firmware Upgrade");
            return 0;
        case CommandAction::VERSION: {
            std::string problem;
            if (!images_from_options(line, &problem)) return stop(problem);
            show_error_box(version_text().c_str(), "TEV Firmware Upgrade");
            return 0;
        }
        case CommandAction::BAD_USAGE: {
            std::string text =
                std::string(line.problem) + "\r\n\r\n" + usage_text(OptionStyle::WINDOWS);
            show_error_box(text.c_str());
            return EXIT_USAGE;
        }
        case CommandAction::UPGRADE: break;
    }
    if (fleet_wanted(line)) return run_list_window(instance, line);
    std::string problem;
    std::FILE* events = nullptr;
    if (line.events_path != nullptr) {
        events = open_events_file(line.events_path, &problem);
        if (events == nullptr) return stop(problem);
    }
    static EventStream stream(events, nullptr, nullptr, start_ms);
    run_events_use(&stream);
    ScriptedAnswerSet answers;
    if (!answers_from_options(line, &answers, &problem) || !images_from_options(line, &problem))
        return stop(problem);
    if (line.log_path != nullptr && !open_support_log(line.log_path, &problem)) return stop(problem);
    answers.password_option = "/passwordfile";
    scripted_answers_use(answers);
    if (!start_run_deadline(run_deadline_seconds(line))) {
        show_error_box("Can't start the thread that keeps the deadline");
        return EXIT_FAILED;
    }
    upgrade_main(instance);
    run_end();
}
