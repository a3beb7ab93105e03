// The Windows program's entry: hands the module instance and the log the user asked for to the
// upgrade; the other options answer in a message box.
#include <windows.h>

#include <cstdlib>  // __argc, __argv
#include <string>

#include "app/command_line.h"
#include "app/start_up.h"
#include "core/run_report.h"
#include "ui/error_box.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The Windows program ends with status 0 on every path until it takes the console's options.
    run_exit_status_tells(false);
    // The C runtime splits the command line with Windows' own quoting rules.
    CommandLine line = parse_command_line(__argc - 1, __argv + 1, OptionStyle::WINDOWS);
    switch (line.action) {
        case CommandAction::HELP:
            show_error_box(usage_text(OptionStyle::WINDOWS).c_str(), "TEV Firmware Upgrade");
            return 0;
        case CommandAction::VERSION:
            show_error_box(version_text().c_str(), "TEV Firmware Upgrade");
            return 0;
        case CommandAction::BAD_USAGE: {
            std::string text =
                std::string(line.problem) + "\r\n\r\n" + usage_text(OptionStyle::WINDOWS);
            show_error_box(text.c_str());
            return 0;
        }
        case CommandAction::UPGRADE: break;
    }
    return upgrade_main(instance, line.log_path);
}
