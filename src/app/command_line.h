// The program's few options: a log for support, and what the program is. With none given the
// upgrade runs as it always has.
#pragma once
#include <cstddef>
#include <string>

enum class CommandAction { UPGRADE, HELP, VERSION, BAD_USAGE };

// Which spellings the command line takes: the Linux program --log, --help and --version; the
// Windows program also /log, /? and /help, as Windows programs do.
enum class OptionStyle { LINUX, WINDOWS };

constexpr std::size_t COMMAND_PROBLEM_SIZE = 160;

struct CommandLine {
    CommandAction action;
    const char* log_path;  // one of the arguments; nullptr without --log
    char problem[COMMAND_PROBLEM_SIZE];  // for BAD_USAGE: what was wrong, in one line
};

// Reads the arguments after the program's name.
CommandLine parse_command_line(int count, const char* const* arguments, OptionStyle style);

// What the program does and its options, with the console guide's place for Linux.
const char* usage_text(OptionStyle style);
// The program's version, and for each firmware image it carries its product and version.
std::string version_text();
// The box that says the log cannot be created: the path and the system's reason.
std::string log_failure_text(const char* path, const char* reason);
