// The Linux program's entry: the same upgrade as on Windows, shown in the console, and the
// options a console program is expected to have.
#include <cstdio>

#include "app/command_line.h"
#include "app/start_up.h"

int main(int argc, char** argv) {
    CommandLine line = parse_command_line(argc - 1, argv + 1, OptionStyle::LINUX);
    switch (line.action) {
        case CommandAction::HELP: std::fputs(usage_text(OptionStyle::LINUX), stdout); return 0;
        case CommandAction::VERSION: std::fputs(version_text().c_str(), stdout); return 0;
        case CommandAction::BAD_USAGE:
            std::fprintf(stderr, "tev-upgrade: %s\n%s", line.problem,
                         usage_text(OptionStyle::LINUX));
            return 2;
        case CommandAction::UPGRADE: break;
    }
    return upgrade_main(nullptr, line.log_path);
}
